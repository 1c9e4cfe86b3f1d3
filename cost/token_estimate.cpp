#include "cost/token_estimate.h"

#include "text/gbk.h"

namespace qj {

long long EstimateTokens(std::string_view gbk) {
    long long wide = 0;
    long long narrow = 0;
    for (std::size_t at = 0; at < gbk.size();) {
        const std::size_t unit = GbkUnitLength(gbk, at);
        (unit == 2 ? wide : narrow) += 1;
        at += unit;
    }
    return wide + (narrow + 3) / 4;
}

}  // namespace qj
