// The program's string table: texts by number, as the resources hold them.
#pragma once

#include <string>

// The text of a string-table entry, or an empty text when there is none.
std::string LoadResString(int id);
