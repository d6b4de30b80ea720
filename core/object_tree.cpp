#include "core/object_tree.hpp"

namespace tsr {

const BoxedValue& boxedValue(const ObjectTree& node) {
    const auto* boxed = dynamic_cast<const BoxedValue*>(node.data().get());
    if (boxed == nullptr) {
        throw std::bad_cast();
    }
    return *boxed;
}

ObjectTree convertToPropertyTree(const TextTree& text) {
    ObjectTree result(std::make_shared<BoxedValue>(text.data()));
    for (const auto& [key, child] : text) {
        if (key.empty()) {
            result.push_back(std::make_pair(key, convertToPropertyTree(child)));
        } else {
            result.add_child(key, convertToPropertyTree(child));
        }
    }
    return result;
}

} // namespace tsr
