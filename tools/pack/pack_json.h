#pragma once
// Reports for programs: one JSON object per run, its fields in the order they
// are set.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

// Prints `report` indented by two spaces. Text that is not UTF-8 (a folder
// named in another encoding) shows U+FFFD in place of its bad bytes, so the
// output is always JSON.
void PrintJson(const Json& report, FILE* out);

// The object of a run that failed before it could judge anything.
Json ErrorJson(const std::string& message);
