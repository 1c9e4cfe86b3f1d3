#include "platform/local_time.h"

namespace qj {

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

std::time_t UtcMoment(std::tm utc) {
    return timegm(&utc);
}

}  // namespace qj
