#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lumvara/log.h"
#include "platform/log/log.h"

namespace {

void collect(const char* text, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(text); }

TEST(Log, HandlerReceivesFormattedText) {
  std::vector<std::string> lines;
  lumvara_set_log_handler(collect, &lines);
  lumvara::logf("create socket failed, errno=%ld\n", 111L);
  lumvara_reset_log_handler();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "create socket failed, errno=111\n");
}

TEST(Log, NullHandlerSilences) {
  std::vector<std::string> lines;
  lumvara_set_log_handler(collect, &lines);
  lumvara_set_log_handler(nullptr, nullptr);
  lumvara::logf("dropped\n");
  lumvara_reset_log_handler();
  EXPECT_TRUE(lines.empty());
}

}  // namespace
