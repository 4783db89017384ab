#pragma once
// How the packer's command line explains itself: the help of the whole tool
// and of each command, laid out from the commands' declarations, and the
// short answer to a command line it cannot take.
#include <string>

#include <CLI/CLI.hpp>

// Lays out help with a usage line naming the required options, and text
// wrapped to a terminal's width. A command's description is a summary, a
// blank line, then the details: the tool's help lists the summaries.
class PackHelp : public CLI::Formatter {
public:
    PackHelp();
    std::string make_usage(const CLI::App* app, std::string name) const override;
    std::string make_description(const CLI::App* app) const override;
    std::string make_subcommand(const CLI::App* command) const override;
    std::string make_option_desc(const CLI::Option* option) const override;
    std::string make_footer(const CLI::App* app) const override;
};

// The usage line of `command` (the tool itself when it is the tool), then a
// pointer to its help; what a mistyped command line is answered with.
std::string UsageAnswer(const CLI::App& command);
