#pragma once

#include <string_view>

#include "text/types.h"

namespace qj {

inline constexpr int kMethodGet = 0;
inline constexpr int kMethodPost = 1;
inline constexpr int kMethodHead = 2;
inline constexpr int kMethodPut = 3;

// The method code a request uses: codes outside 0..7 become GET.
int EffectiveMethod(int method);

// The verb of a method code ("GET" for codes outside 0..7).
std::string_view VerbOfMethod(int method);

// Appends to `block` each default request line whose probe text it lacks (searched anywhere in
// the block, ASCII letters without regard to case), each line preceded by CR LF: Accept, Referer
// (the request URL), Accept-Language, User-Agent, and for POST a form Content-Type.
void AddDefaultHeaders(Text& block, std::string_view url, int method);

}  // namespace qj
