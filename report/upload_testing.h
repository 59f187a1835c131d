// For tests only: other bounds for the uploads, so that a test can take a transfer past one of
// them in seconds instead of the shipped minutes.
#pragma once

#include "report/upload_watch.h"

namespace upload::testing {

// While it lives, the uploads that start are bounded by `bounds`. Not for concurrent use.
class ScopedBounds {
public:
    explicit ScopedBounds(const UploadBounds& bounds);
    ScopedBounds(const ScopedBounds&) = delete;
    ScopedBounds& operator=(const ScopedBounds&) = delete;
    ~ScopedBounds();

private:
    UploadBounds previous_;
};

// The bounds that the program ships with.
UploadBounds ShippedBounds();

}  // namespace upload::testing
