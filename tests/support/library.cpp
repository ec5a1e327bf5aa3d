#include "support/library.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace zktest {

zktool::DriverApi& Library() {
    static zktool::DriverApi api;
    if (!api.handle) {
        std::string error;
        if (!api.Load(ZK_LIBRARY_PATH, error)) throw std::runtime_error("cannot load the driver library: " + error);
    }
    return api;
}

}  // namespace zktest
