// The picture a viewer record holds, read back from its planes or its
// surface, for the tests of what the readers put there.
#pragma once

#include "display/twnd.h"
#include "tests/support/bitmap_files.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vexel::test {

// The picture the record holds, from the planes or the surface.
inline Picture heldPicture(TWnd& record) {
    Picture p{record.picture.pictureWidth(), record.picture.pictureHeight(), {}};
    p.rgb.resize(static_cast<std::size_t>(p.width) * p.height * 3);
    if (record.picture.pictureInPlanes()) {
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                p.at(x, y)[0] = record.picture.planes.row(TPicturePlanes::kRed, y)[x];
                p.at(x, y)[1] = record.picture.planes.row(TPicturePlanes::kGreen, y)[x];
                p.at(x, y)[2] = record.picture.planes.row(TPicturePlanes::kBlue, y)[x];
            }
        return p;
    }
    PictureAccess a;
    EXPECT_TRUE(record.graphicsWindow->lockPicture(a));
    EXPECT_EQ(a.width, p.width);
    EXPECT_EQ(a.height, p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            std::uint32_t w = a.rowFromBottom(y)[x];
            p.at(x, y)[0] = static_cast<std::uint8_t>(w >> 16);
            p.at(x, y)[1] = static_cast<std::uint8_t>(w >> 8);
            p.at(x, y)[2] = static_cast<std::uint8_t>(w);
        }
    record.graphicsWindow->unlockPicture(a);
    return p;
}

} // namespace vexel::test
