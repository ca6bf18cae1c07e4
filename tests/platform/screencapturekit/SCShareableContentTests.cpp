#include "platform/screencapturekit/SCShareableContent.h"

#include <gtest/gtest.h>

#include "backends/simulated/SimulatedCaptureBackend.h"

namespace harkwell {
namespace {

// At stake: the query answers exactly once, with the displays in platform order
// or with an error (read as "no screen-capture permission"), possibly later.
class SCShareableContentTest : public ::testing::Test {
 protected:
  void SetUp() override { CaptureBackend::setCurrent(backend_); }
  void TearDown() override { CaptureBackend::setCurrent(nullptr); }

  void query() {
    SCShareableContent::getShareableContentExcludingDesktopWindows(
        false, true,
        [this](std::optional<SCShareableContent> content, std::optional<NSError> error) {
          ++answers_;
          content_ = std::move(content);
          error_ = std::move(error);
        });
  }

  std::shared_ptr<SimulatedCaptureBackend> backend_ = SimulatedCaptureBackend::makeManual();
  int answers_ = 0;
  std::optional<SCShareableContent> content_;
  std::optional<NSError> error_;
};

TEST_F(SCShareableContentTest, AnswersWithTheDisplaysInOrder) {
  backend_->addDisplay(2);
  backend_->addDisplay(1);
  query();
  ASSERT_EQ(answers_, 1);
  ASSERT_TRUE(content_);
  EXPECT_FALSE(error_);
  ASSERT_EQ(content_->displays().size(), 2u);
  EXPECT_EQ(content_->displays()[0].displayID(), 2u);
  EXPECT_EQ(content_->displays()[1].displayID(), 1u);
}

TEST_F(SCShareableContentTest, AnswersWithContentEvenWithoutDisplays) {
  query();
  ASSERT_TRUE(content_);
  EXPECT_TRUE(content_->displays().empty());
}

TEST_F(SCShareableContentTest, AFailingQueryAnswersWithTheErrorOnly) {
  backend_->addDisplay(1);
  backend_->setShareableContentError(NSError("test", 3, "not permitted"));
  query();
  ASSERT_EQ(answers_, 1);
  EXPECT_FALSE(content_);
  ASSERT_TRUE(error_);
  EXPECT_EQ(error_->code(), 3);
}

TEST_F(SCShareableContentTest, APendingQueryAnswersWhenReleased) {
  backend_->setShareableContentPending(true);
  query();
  EXPECT_EQ(answers_, 0);
  backend_->addDisplay(5);
  EXPECT_EQ(backend_->answerShareableContent(), 1u);
  ASSERT_EQ(answers_, 1);
  ASSERT_TRUE(content_);
  EXPECT_EQ(content_->displays().at(0).displayID(), 5u);
}

TEST_F(SCShareableContentTest, APendingQueryIsAnsweredWithAnErrorWhenTheBackendGoesAway) {
  backend_->setShareableContentPending(true);
  query();
  CaptureBackend::setCurrent(nullptr);
  backend_.reset();
  EXPECT_EQ(answers_, 1);
  EXPECT_TRUE(error_);
}

}  // namespace
}  // namespace harkwell
