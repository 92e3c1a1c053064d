#include <gtest/gtest.h>

#include <stdexcept>

#include "brenkit/app_logging.hpp"

using namespace brenkit::app_logging;

TEST(AppLogging, LinesGoPlainToStandardErrorAndDebugOnlyAfterSetup) {
    const auto& log = lazy_logger("Test");
    EXPECT_EQ(&log, &lazy_logger("Test"));
    setup_logging("Vemtora", false);
    testing::internal::CaptureStderr();
    log.debug("hidden");
    log.info("✅ 資訊");
    log.warning("⚠️ 警告");
    log.error("❌ 錯誤");
    setup_logging("Vemtora", true);
    log.debug("🔍 shown");
    setup_logging("Vemtora", false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "✅ 資訊\n⚠️ 警告\n❌ 錯誤\n🔍 shown\n");
}

TEST(AppLogging, CaptureTakesLinesInsteadOfTheConsole) {
    const auto& log = lazy_logger("Cap");
    testing::internal::CaptureStderr();
    {
        Capture outer;
        log.info("outer");
        {
            Capture inner;
            log.warning("inner");
            log.debug("no debug");
            EXPECT_EQ(inner.text(), "inner\n");
            ASSERT_EQ(inner.records().size(), 1u);
            EXPECT_EQ(inner.records()[0].level, Level::warning);
            EXPECT_EQ(inner.records()[0].logger, "Cap");
        }
        try {
            throw std::runtime_error("disk full");
        } catch (...) {
            log.exception("❌ 寫入失敗");
        }
        log.exception("no failure in flight");
        EXPECT_EQ(outer.messages(), (std::vector<std::string>{"outer", "❌ 寫入失敗\ndisk full", "no failure in flight"}));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
