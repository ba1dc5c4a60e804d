#include "support/lossfixture.h"

#include "support/ptypair.h"

void DeviceLossFixture::SetUp() {
  comm_.SetUseMainThread(GetParam());
  comm_.SetStreamProtocol(spNone);
  comm_.OnCommError = [this](TObject*, Cardinal commCode, Cardinal sysError, TComStateFlags,
                             bool&) {
    comm_error_code_ = commCode;
    comm_error_sys_ = sysError;
    reports_.Add("comm error");
  };
  comm_.OnFatalError = [this](TObject*, Cardinal code, Cardinal detail, const std::string& message,
                              bool& raise) {
    raise = false;
    fatal_code_ = code;
    fatal_detail_ = detail;
    fatal_message_ = message;
    lost_at_fatal_ = comm_.DeviceLost();
    reports_.Add("fatal error");
  };
  comm_.OnClose = [this](TObject*) {
    lost_at_close_ = comm_.DeviceLost();
    reports_.Add("close");
  };
}

void DeviceLossFixture::OpenAndLose(const std::string& path, const std::function<void()>& lose) {
  comm_.SetDeviceName(path);
  ASSERT_TRUE(comm_.TryOpen());
  lose();
  ASSERT_TRUE(WaitUntil([&] { return !comm_.Active(); }, 10000));
}

void DeviceLossFixture::ExpectReportedBeforeTheClose() {
  EXPECT_EQ(reports_.List(), (std::vector<std::string>{"comm error", "fatal error", "close"}));
  EXPECT_EQ(comm_error_code_, 0u);
  EXPECT_NE(comm_error_sys_, 0u);
  EXPECT_EQ(static_cast<int>(comm_error_sys_), comm_.FailureCode());
  EXPECT_EQ(fatal_code_, 1u);
  EXPECT_EQ(fatal_detail_, comm_error_sys_);
  EXPECT_TRUE(lost_at_fatal_);
  EXPECT_TRUE(lost_at_close_);
  EXPECT_FALSE(comm_.FailureText().empty());
  EXPECT_EQ(fatal_message_,
            "Device \"" + comm_.DeviceName() + "\" Lost !!!\r" + comm_.FailureText());
}
