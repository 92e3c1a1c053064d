#pragma once
// The author and the date a generated document carries.
#include <string>

namespace vemtora::exchange {

// The question for a document's author when nothing names one, and the proposal where a
// command offers one.
inline constexpr const char* author_question = "💬 請手動輸入作者 (Author)";
inline constexpr const char* default_author = "Orlen Vask";

// Today's local date as year-month-day ("2025-01-31").
std::string today();

}  // namespace vemtora::exchange
