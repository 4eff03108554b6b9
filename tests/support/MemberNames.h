// The names of a native object's methods or properties, in their table order.
#pragma once

#include <string>
#include <vector>

template <class T>
std::vector<std::string> MemberNames(const std::vector<T>& items) {
    std::vector<std::string> names;
    for (const T& item : items) names.push_back(item.name);
    return names;
}
