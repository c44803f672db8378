// The record layout is fixed at compile time in the headers; here the
// constants that other code sizes buffers by are checked against the
// documented byte counts.
#include <gtest/gtest.h>

#include "laser/laserscan.h"
#include "radiomap/database.h"
#include "radiomap/refpoint.h"

TEST(Records, SizesMatchTheFileFormat) {
  EXPECT_EQ(MAX_APS, 16);
  EXPECT_EQ(sizeof(ap_reading), 76u);
  EXPECT_EQ(sizeof(refpoint), 1228u);
  EXPECT_EQ(sizeof(db_header), 20u);
  EXPECT_EQ(MAX_LASER_POINTS, 1024);
  EXPECT_EQ(sizeof(laserscan), 16392u);
}
