#pragma once
// The command line of a program the installer starts, by the rules Windows programs use to
// split their own command line.
#include <initializer_list>
#include <string>
#include <string_view>

namespace vantile {

// One argument for a child's command line: in double quotes only when it holds a space or a
// tab or is empty; an inner quote is escaped, quoted or not, and the backslashes before it
// (and before a closing quote) doubled, so the child reads back exactly the argument.
std::string quote_argument(std::string_view argument);

// The program in double quotes, then each argument after one space, quoted only when it
// holds a space or a tab or is empty.
std::string child_command_line(std::string_view program,
                               std::initializer_list<std::string_view> arguments);

}  // namespace vantile
