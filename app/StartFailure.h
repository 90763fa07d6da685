#pragma once
// A start that cannot go on for a reason outside the program that the user can mend: a data folder that
// belongs to another user, a list of servers that is missing, unreadable or empty. The message says what and
// names the path; the program says so and ends with exit status 1, without calling it an unexpected error.

#include "qcl/Error.h"

namespace dwl
{
class StartFailure : public qcl::basic_runtime_error<wchar_t>
{
public:
    using basic_runtime_error::basic_runtime_error;
};
} // namespace dwl
