#pragma once
// A CodePage read from the C library's iconv converters (native builds).

#include "code_page.h"

namespace korvane::http {

// name is an iconv encoding name such as "CP936". Throws std::runtime_error
// when iconv does not know it.
CodePage MakeIconvCodePage(const char* name);

}  // namespace korvane::http
