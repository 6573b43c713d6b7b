// placeholder
#include <gtest/gtest.h>
#include "maptable.h"
TEST(MapTable, Builds) { MapTable t{}; EXPECT_TRUE(maptable_rehash(&t, 8)); }
