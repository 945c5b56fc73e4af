// The answer of a well-behaved service for the tests: the sample service's
// answer with every code derived from its record's SN.
#pragma once

#include <string>

#include "answer.h"
#include "dvk_request.h"
#include "tls_service.h"

namespace dvkc::test {

// The whole answer: an HTTP/1.0 200 status line, headers and
// dvkc::sample::answer_body(request).
std::string echo_answer(const dvkc::sample::DvkRequest &request);

// Answers every well-formed query with echo_answer() and anything else with
// "HTTP/1.0 400 Bad Request".
dvkc::sample::Handler echo_handler();

}  // namespace dvkc::test
