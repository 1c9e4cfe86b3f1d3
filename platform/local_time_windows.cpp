#include "platform/local_time.h"

namespace qj {

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

std::time_t UtcMoment(std::tm utc) {
    return _mkgmtime(&utc);
}

}  // namespace qj
