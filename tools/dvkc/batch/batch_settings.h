// What one batch's exchange needs to know besides its records: where the
// service is, who asks, and how long and how often to try.
#pragma once

#include <string>

#include "dvkc.hpp"

namespace dvkc::tool {

struct BatchSettings {
    dvkc::Endpoint endpoint;  // host, path, trust file (the port as read)
    std::string identity_file;
    long timeout = 60;   // seconds each exchange may take; 0: none
    unsigned retry = 0;  // further attempts of a batch whose exchange failed
    std::string helper;  // the program that runs exchanges ("": in this process)
};

}  // namespace dvkc::tool
