#include "app/state_text.h"

#include <cstdio>

namespace wayfarer {

namespace {

struct CodeText {
    int32_t code;
    const char* text;
};

constexpr CodeText kStatusTexts[] = {
    {1, "安装完毕"},
    {2, "正在下载"},
    {3, "正在安装"},
    {4, "正在获取配置"},
    {1002, "正在检测注册表"},
    {1003, "正在检测Host文件"},
    {1004, "正在检测根证书"},
    {1005, "正在检测网络连接"},
    {1006, "正在检测DNS设置"},
    {1007, "正在检测网银服务"},
    {1013, "正在检测网络代理设置"},
    {1009, "正在检测主页设置"},
    {1010, "正在检测安全级别设置"},
    {1011, "正在检测可信站点"},
    {1999, "检测完毕"},
    {2002, "正在修复注册表"},
    {2003, "正在修复Host文件"},
    {2004, "正在修复根证书"},
    {2005, "正在修复网络连接"},
    {2006, "正在修复DNS设置"},
    {2007, "正在修复网银服务"},
    {2009, "正在修复主页设置"},
    {2010, "正在修复安全级别设置"},
    {2011, "正在修复可信站点"},
    {2013, "正在修复网络代理设置"},
    {2999, "设置完毕"},
};

// The page has no row for item 9; the console still names it.
constexpr CodeText kCheckLabels[] = {
    {1, "操作系统版本"}, {2, "注册表"},    {3, "Host文件"},    {4, "CFCA根证书"},
    {5, "网络连接"},     {6, "DNS解析"},   {7, "网银服务"},    {8, "IE版本"},
    {9, "主页设置"},     {10, "IE安全级别"}, {11, "网银可信站点加入"},
};

template <size_t N>
std::string Lookup(const CodeText (&table)[N], int32_t code) {
    for (const CodeText& entry : table) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return {};
}

const char* BrandOf(int32_t category) {
    switch (category) {
        case 800: return "华虹";
        case 801: return "天诚";
        case 802:
        case 803: return "飞天";
        default: return nullptr;
    }
}

std::string ArgText(const ScriptArg& arg) {
    return arg.isText ? arg.text : std::to_string(arg.number);
}

std::string CheckValueText(int32_t item, const ScriptArg& value) {
    switch (item) {
        case 1:
            return ShortSystemName(ArgText(value));
        case 8:
            return ArgText(value);
        case 6:
            // A DNS label stands for a passed check that matched that answer.
            if (value.isText) {
                return value.text.empty() ? "正常" : "正常（" + value.text + "）";  // as the page shows it
            }
            return value.number == 0 ? "正常" : "不正常";
        case 2: case 3: case 4: case 5: case 7: case 9: case 10: case 11:
            if (value.isText) {
                return {};
            }
            return value.number == 0 ? "正常" : "不正常";
        default:
            return {};
    }
}

std::string UsbKeyText(int32_t category, int32_t item, const ScriptArg& value) {
    const char* brand = BrandOf(category);
    if (brand == nullptr) {
        return {};
    }
    const bool zero = !value.isText && value.number == 0;
    switch (item) {
        case 2: return std::string(" USBKey(") + brand + ")  序列号：" + ArgText(value) + " ;";
        case 3: return zero ? "完整" : "不完整";
        case 4: return zero ? "没有锁定" : "已被锁定";
        case 5: return zero ? "已修改过" : "默认密码";
        case 6: return ArgText(value) + "个";
        case 7: return zero ? "已经注册" : "没有注册";
        case 8: return "当前驱动版本：" + ArgText(value);
        default: return {};
    }
}

}  // namespace

std::string StatusText(int32_t code) { return Lookup(kStatusTexts, code); }

std::string CheckItemLabel(int32_t item) { return Lookup(kCheckLabels, item); }

std::string ComponentRowLabel(int32_t row) {
    switch (row) {
        case 1: return "密码安全控件";
        case 2: return "证书签名控件";
        case 3: return "USBKey控件";
        case 4: return "USBKey驱动";
        default: return {};
    }
}

std::string ComponentText(int32_t row, int32_t value) {
    if (row < 1 || row > 4) {
        return {};
    }
    const auto bits = static_cast<uint32_t>(value);
    if (row <= 3 && (bits & 0x40000000u) != 0) {
        return "已被禁用";
    }
    switch (value) {
        case 0: return "已安装最新版本";
        case 2: return "已安装，但有更新版本";
        case 5: return "未安装";
        case 8: return "已被禁用";
        default: return "未安装";
    }
}

std::string VerdictText(int32_t verdict) {
    if (verdict == 0) {
        return "恭喜您，您的电脑已达到使用Lunmar网上银行的最优环境配置，可以放心使用！点击“登录”网上银行";
    }
    return "您的电脑未达到使用我行网银的要求，请点击“一键设置”修复。";
}

std::string ShortSystemName(const std::string& description) {
    static const char* const kNames[] = {
        "Windows 7",  "Windows Vista", "Windows Server 2008", "Windows Server 2003", "Windows XP",
        "Windows 2000", "Windows 8",   "Windows 10",          "Windows 11",
    };
    for (const char* name : kNames) {
        if (description.find(name) != std::string::npos) {
            return name;
        }
    }
    return description;
}


std::string DescribePageCall(const std::string& function, const std::vector<ScriptArg>& args) {
    if (function != "setState" || args.size() < 3 || args[0].isText || args[1].isText) {
        return {};
    }
    const int32_t category = args[0].number;
    const int32_t item = args[1].number;
    const ScriptArg& value = args[2];
    if (category == 0) {
        if (value.isText) {
            return {};
        }
        switch (item) {
            case 0: return "进度 " + std::to_string(value.number) + "%";
            case 1: return "下载进度 " + std::to_string(value.number) + "%";
            case 2: return StatusText(value.number);
            case 3: return VerdictText(value.number);
            default: return {};
        }
    }
    if (category == 1) {
        const std::string text = CheckValueText(item, value);
        return text.empty() ? text : CheckItemLabel(item) + "：" + text;
    }
    if (category == 2) {
        const std::string label = ComponentRowLabel(item);
        if (label.empty() || value.isText) {
            return {};
        }
        return label + "：" + ComponentText(item, value.number);
    }
    return UsbKeyText(category, item, value);
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
                    out += buffer;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string PageCallJson(const std::string& function, const std::vector<ScriptArg>& args) {
    std::string out = "{\"function\":" + JsonString(function) + ",\"args\":[";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        out += args[i].isText ? JsonString(args[i].text) : std::to_string(args[i].number);
    }
    out += ']';
    const std::string text = DescribePageCall(function, args);
    if (!text.empty()) {
        out += ",\"text\":" + JsonString(text);
    }
    out += '}';
    return out;
}

}  // namespace wayfarer
