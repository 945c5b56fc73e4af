#include "echo_answer.h"

#include "http_framing.h"

namespace dvkc::test {

using namespace dvkc::sample;

std::string echo_answer(const DvkRequest &request)
{
    return http_answer(200, "OK", answer_body(request));
}

Handler echo_handler()
{
    return [](const ServiceRequest &incoming) {
        const std::optional<DvkRequest> request = parse_dvk_request(incoming.raw);
        return request ? echo_answer(*request) : http_answer(400, "Bad Request", "");
    };
}

}  // namespace dvkc::test
