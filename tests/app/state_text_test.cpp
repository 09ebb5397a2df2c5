#include "app/state_text.h"

#include <gtest/gtest.h>

namespace wayfarer {
namespace {

TEST(StateTextTest, PageCallsInThePagesWords) {
    const struct {
        std::vector<ScriptArg> args;
        const char* text;
    } cases[] = {
        {{0, 0, 45}, "进度 45%"},
        {{0, 1, 100}, "下载进度 100%"},
        {{0, 2, 1002}, "正在检测注册表"},
        {{0, 2, 1013}, "正在检测网络代理设置"},
        {{0, 2, 2999}, "设置完毕"},
        {{0, 2, 4}, "正在获取配置"},  // every code the page knows, also those no step sends today
        {{0, 2, 2013}, "正在修复网络代理设置"},
        {{0, 2, 1000}, ""},  // leaves the status line as it was
        {{0, 2, 2012}, ""},
        {{0, 3, 0}, "恭喜您，您的电脑已达到使用Lunmar网上银行的最优环境配置，可以放心使用！点击“登录”网上银行"},
        {{0, 3, 2}, "您的电脑未达到使用我行网银的要求，请点击“一键设置”修复。"},
        {{1, 1, "Microsoft Windows 7 Ultimate Service Pack 1"}, "操作系统版本：Windows 7"},
        {{1, 1, "Windows 11 专业版"}, "操作系统版本：Windows 11"},
        {{1, 1, "ReactOS"}, "操作系统版本：ReactOS"},
        {{1, 2, 0}, "注册表：正常"},
        {{1, 3, 1}, "Host文件：不正常"},
        {{1, 6, "主线路"}, "DNS解析：正常（主线路）"},
        {{1, 8, "11.0"}, "IE版本：11.0"},
        {{1, 12, 0}, ""},
        {{2, 1, static_cast<int32_t>(0x40000005)}, "密码安全控件：已被禁用"},
        {{2, 4, static_cast<int32_t>(0xC0000005)}, "USBKey驱动：未安装"},
        {{2, 4, static_cast<int32_t>(0x40000000)}, "USBKey驱动：未安装"},  // no disabled text for drivers
        {{2, 2, 0}, "证书签名控件：已安装最新版本"},
        {{2, 2, 2}, "证书签名控件：已安装，但有更新版本"},
        {{2, 3, 8}, "USBKey控件：已被禁用"},
        {{2, 3, 6}, "USBKey控件：未安装"},
        {{2, 1, 5, "tips", "name"}, "密码安全控件：未安装"},
        {{2, 5, 0}, ""},
        {{800, 2, "SN1"}, " USBKey(华虹)  序列号：SN1 ;"},
        {{803, 6, 2}, "2个"},
        {{801, 4, 1}, "已被锁定"},
        {{802, 8, "3.1"}, "当前驱动版本：3.1"},
        {{804, 3, 0}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribePageCall("setState", c.args), c.text);
    }
    EXPECT_EQ(DescribePageCall("clearState", {800, 2}), "");
}

TEST(StateTextTest, JsonLinesEscapeTextAndCarryThePagesWords) {
    EXPECT_EQ(PageCallJson("setState", {0, 2, 1999}),
              "{\"function\":\"setState\",\"args\":[0,2,1999],\"text\":\"检测完毕\"}");
    EXPECT_EQ(PageCallJson("clearState", {801, 3}), "{\"function\":\"clearState\",\"args\":[801,3]}");
    EXPECT_EQ(JsonString("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u0001\"");
}

}  // namespace
}  // namespace wayfarer
