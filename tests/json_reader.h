// A small strict JSON reader for checking ota_info --json in tests.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct Json {
    enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> array;
    std::map<std::string, Json> object;

    const Json& operator[](const std::string& key) const {
        auto it = object.find(key);
        if (kind != Kind::object || it == object.end()) throw std::runtime_error("no key " + key);
        return it->second;
    }
};

// Throws std::runtime_error on anything that is not one complete JSON value.
Json parse_json(const std::string& text);
