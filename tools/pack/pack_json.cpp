#include "pack_json.h"

namespace {

constexpr int JSON_INDENT = 2;

}  // namespace

void PrintJson(const Json& report, FILE* out) {
    const std::string text = report.dump(JSON_INDENT, ' ', false, Json::error_handler_t::replace);
    std::fprintf(out, "%s\n", text.c_str());
}

Json ErrorJson(const std::string& message) { return Json{{"error", message}}; }
