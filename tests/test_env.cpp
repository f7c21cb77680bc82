// Linked into every test binary: default environment for headless runs.
#include <cstdlib>
#include <string>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        std::string all = TV_TEST_ENV;
        size_t start = 0;
        while (start <= all.size()) {
            size_t end = all.find('|', start);
            if (end == std::string::npos) {
                end = all.size();
            }
            const std::string item = all.substr(start, end - start);
            const size_t eq = item.find('=');
            if (eq != std::string::npos && eq > 0) {
                setenv(item.substr(0, eq).c_str(), item.substr(eq + 1).c_str(), 0);
            }
            start = end + 1;
        }
    }
};

const TestEnvironment g_testEnvironment;

} // namespace
