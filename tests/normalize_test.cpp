// Unit tests of the tolerant reader come next; this placeholder keeps the target.
#include <gtest/gtest.h>
