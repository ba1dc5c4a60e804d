#include <gtest/gtest.h>
TEST(BaseIO, Placeholder) {}
