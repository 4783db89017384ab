#include "pack_help.h"

namespace {

constexpr size_t TERMINAL_WIDTH = 80;
constexpr size_t OPTION_COLUMN = 22;
constexpr char PARAGRAPH_BREAK[] = "\n\n";

// The words of `text` in lines of at most `width` columns (a longer word
// stands alone); a "\n" in it starts a new line.
std::string Wrapped(const std::string& text, size_t width) {
    std::string out, line;
    const auto endLine = [&] {
        out += line + "\n";
        line.clear();
    };
    for (size_t at = 0; at <= text.size();) {
        const size_t end = std::min(text.find_first_of(" \n", at), text.size());
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) endLine();
        if (!word.empty()) line += (line.empty() ? "" : " ") + word;
        if (end < text.size() && text[end] == '\n') endLine();
        at = end + 1;
    }
    if (!line.empty()) endLine();
    return out;
}

std::string Summary(const CLI::App& command) {
    const std::string& description = command.get_description();
    return description.substr(0, description.find(PARAGRAPH_BREAK));
}

// The tool's full name for `command`: "sundrift-pack build".
std::string FullName(const CLI::App& command) {
    const CLI::App* parent = command.get_parent();
    return parent ? FullName(*parent) + " " + command.get_name() : command.get_name();
}

}  // namespace

PackHelp::PackHelp() {
    column_width(OPTION_COLUMN);
    label("Positionals", "Arguments");
    label("REQUIRED", "(required)");
}

std::string PackHelp::make_usage(const CLI::App* app, std::string name) const {
    std::string usage = "usage: " + name;
    if (!app->get_subcommands({}).empty()) return usage + " COMMAND [OPTIONS] [ARGUMENTS]\n";
    bool optional = false;
    for (const CLI::Option* option : app->get_options()) {
        if (option->get_positional() || option->get_group().empty() || option == app->get_help_ptr()) continue;
        if (option->get_required()) {
            usage += " " + option->get_name() + " " + option->get_type_name();
        } else {
            optional = true;
        }
    }
    if (optional) usage += " [OPTIONS]";
    for (const CLI::Option* option : app->get_options()) {
        if (option->get_positional()) usage += " " + make_option_usage(option);
    }
    return usage + "\n";
}

std::string PackHelp::make_description(const CLI::App* app) const {
    return Wrapped(app->get_description(), TERMINAL_WIDTH) + "\n";
}

std::string PackHelp::make_subcommand(const CLI::App* command) const {
    std::string line = "  " + command->get_name();
    line.resize(OPTION_COLUMN, ' ');
    std::string out = Wrapped(Summary(*command), TERMINAL_WIDTH - OPTION_COLUMN);
    for (size_t at = out.find('\n'); at + 1 < out.size(); at = out.find('\n', at + 1)) {
        out.insert(at + 1, OPTION_COLUMN, ' ');
    }
    return line + out;
}

std::string PackHelp::make_option_desc(const CLI::Option* option) const {
    std::string text = Wrapped(option->get_description(), TERMINAL_WIDTH - OPTION_COLUMN);
    if (!text.empty()) text.pop_back();  // the layout ends the line itself
    return text;
}

std::string PackHelp::make_footer(const CLI::App* app) const {
    const std::string& footer = app->get_footer();
    return footer.empty() ? "" : Wrapped(footer, TERMINAL_WIDTH);
}

std::string UsageAnswer(const CLI::App& command) {
    const std::string name = FullName(command);
    return PackHelp().make_usage(&command, name) + "\"" + name + " --help\" tells more.\n";
}
