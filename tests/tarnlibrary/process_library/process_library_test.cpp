#include "tarnlibrary/process_library/process_library.hpp"
#include <gtest/gtest.h>
TEST(Placeholder, Builds) {
  EXPECT_THROW(tarn::launch("x"), std::runtime_error);
}
