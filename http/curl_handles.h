#pragma once

#include <curl/curl.h>

#include "http/http_instance.h"

namespace qj {

struct HttpInstance::Handles {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
};

}  // namespace qj
