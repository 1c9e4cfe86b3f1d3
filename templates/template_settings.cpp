#include "templates/template_settings.h"

#include <algorithm>
#include <cstdlib>

#include "text/ascii.h"

namespace qj {

int LinksPerArticle(std::string_view typed) {
    typed = TrimAsciiBlanks(typed);
    if (typed.empty() || typed.size() > 9 || typed.find_first_not_of("0123456789") != std::string_view::npos) {
        return kDefaultLinksPerArticle;
    }
    return std::clamp(std::atoi(Text(typed).c_str()), 0, kMaxLinksPerArticle);
}

}  // namespace qj
