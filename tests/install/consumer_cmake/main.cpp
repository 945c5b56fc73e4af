// Builds a request offline with the installed C++ header and library.
#include <dvkc.hpp>

#include <iostream>

int main(int, char **argv)
{
    try {
        dvkc::Query query;
        query.add("SN-1", "ABC");
        query.add("SN-2", "DEF");
        const dvkc::Buffer document = query.build(1, argv[0]);
        const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), "sig");
        std::cout << "records " << query.size() << " document " << document.length() << " envelope "
                  << envelope.length() << " client " << query.client_id().size() << "\n"
                  << dvkc::Error(dvkc::Call::parse, 2005).what() << "\n";
        return 0;
    } catch (const std::exception &e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
