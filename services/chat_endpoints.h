#pragma once

#include "services/generator.h"
#include "services/chat_completion.h"

namespace qj {

// The generator of a run on interface three: its endpoints in a pool (see EndpointPool), endpoint 1
// the main settings, then one per usable line of the backup box, each with its key, model and
// proxy. Lines that cannot be used are logged, and so is every endpoint when there is more than
// one or a proxy. Settings that cannot work give InterfaceThreeGenerator's, which ends the run.
Generator InterfaceThreeEndpointsGenerator(const InterfaceThreeSettings& settings, const Text& defaultBaseUrl);

}  // namespace qj
