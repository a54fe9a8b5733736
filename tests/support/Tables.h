// Test cases kept as data: tests/data/tables/NAME.jsonc, JSON with //
// comments, each table an array of rows that a test reads in a loop.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace test_tables {

// The rows of table `key` in NAME.jsonc; a missing or empty table throws, so
// that a loop over it can never pass by checking nothing.
inline nlohmann::json rows(const std::string& name, const std::string& key) {
    std::ifstream in(std::string(WENDLOW_TEST_DATA) + "/tables/" + name + ".jsonc");
    if (!in) throw std::runtime_error("no table file " + name);
    const nlohmann::json rows = nlohmann::json::parse(in, nullptr, true, true).value(key, nlohmann::json());
    if (!rows.is_array() || rows.empty()) throw std::runtime_error("no rows in " + name + ": " + key);
    return rows;
}

}  // namespace test_tables
