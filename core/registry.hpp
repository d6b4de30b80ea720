#pragma once

#include "core/shown_text.hpp"

#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <unordered_map>

namespace tsr {

// Label -> shared object map shared by the index and generator repositories.
// Labels are exact and case-sensitive; an entry is never replaced.
template <class Base> class Registry {
public:
    void add(const std::string& label, std::shared_ptr<Base> object) {
        if (!entries_.try_emplace(label, std::move(object)).second) {
            throw std::runtime_error("Label already registered: " + shownText(label));
        }
    }

    template <class T> std::shared_ptr<T> get(const std::string& label) const {
        const auto it = entries_.find(label);
        if (it == entries_.end()) {
            throw std::out_of_range("No object registered under label: " + shownText(label));
        }
        auto typed = std::dynamic_pointer_cast<T>(it->second);
        if (!typed) {
            throw std::bad_cast();
        }
        return typed;
    }

    // The object itself, without sharing ownership: entries live as long as the registry,
    // and threads that look up the same entry then write to no shared counter.
    template <class T> const T& at(const std::string& label) const {
        const auto it = entries_.find(label);
        if (it == entries_.end()) {
            throw std::out_of_range("No object registered under label: " + shownText(label));
        }
        return dynamic_cast<const T&>(*it->second);
    }

    bool contains(const std::string& label) const { return entries_.contains(label); }
    std::size_t size() const { return entries_.size(); }

    // Labels in no particular order; for listings.
    template <class F> void forEach(F&& f) const {
        for (const auto& [label, object] : entries_) {
            f(label, object);
        }
    }

private:
    std::unordered_map<std::string, std::shared_ptr<Base>> entries_;
};

} // namespace tsr
