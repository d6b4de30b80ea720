#pragma once

#include "core/boxed_value.hpp"

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace tsr {

// Every description and result travels as this tree: string keys, shared
// immutable objects as data. Arrays are children with the empty key.
using ObjectTree = boost::property_tree::basic_ptree<std::string, std::shared_ptr<const Object>,
                                                     std::less<std::string>>;

// The plain string tree that the JSON reader produces.
using TextTree = boost::property_tree::ptree;

// Typed access to tree data through BoxedValue. It never answers empty:
// it converts or throws.
template <class T> struct PrimitiveTranslator {
    using internal_type = std::shared_ptr<const Object>;
    using external_type = T;

    boost::optional<T> get_value(const internal_type& data) const {
        const auto* boxed = dynamic_cast<const BoxedValue*>(data.get());
        if (boxed == nullptr) {
            throw std::bad_cast();
        }
        return boxed->get<T>();
    }

    boost::optional<internal_type> put_value(const T& value) const {
        return internal_type(std::make_shared<BoxedValue>(value));
    }
};

// The BoxedValue at a node, or std::bad_cast when the node carries none.
const BoxedValue& boxedValue(const ObjectTree& node);

// Appends under `key` an array node holding the values in order.
template <class T>
void addVector(ObjectTree& tree, const std::string& key, const std::vector<T>& values) {
    ObjectTree node;
    for (const auto& v : values) {
        node.push_back(std::make_pair(std::string(), ObjectTree(std::make_shared<BoxedValue>(v))));
    }
    tree.add_child(key, node);
}

ObjectTree convertToPropertyTree(const TextTree& text);

} // namespace tsr

namespace boost::property_tree {

template <> struct translator_between<std::shared_ptr<const tsr::Object>, bool> {
    using type = tsr::PrimitiveTranslator<bool>;
};
template <> struct translator_between<std::shared_ptr<const tsr::Object>, int> {
    using type = tsr::PrimitiveTranslator<int>;
};
template <> struct translator_between<std::shared_ptr<const tsr::Object>, double> {
    using type = tsr::PrimitiveTranslator<double>;
};
template <> struct translator_between<std::shared_ptr<const tsr::Object>, std::string> {
    using type = tsr::PrimitiveTranslator<std::string>;
};
template <> struct translator_between<std::shared_ptr<const tsr::Object>, tsr::date> {
    using type = tsr::PrimitiveTranslator<tsr::date>;
};

} // namespace boost::property_tree
