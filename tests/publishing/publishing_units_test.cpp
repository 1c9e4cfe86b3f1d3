// The parts of publishing that need no site: articles, the calendar, form bodies, the settings page,
// the ledger's durable lines.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <thread>

#include "platform/file_system.h"
#include "publishing/article.h"
#include "publishing/durable_lines.h"
#include "publishing/form_profile.h"
#include "publishing/ledger.h"
#include "publishing/publish_settings.h"
#include "publishing/schedule.h"
#include "publishing_peers.h"
#include "text/code_page.h"

namespace qj::publishing {
namespace {

using testing::PublishingHome;

TEST(Article, TitleBodyAndKeyword) {
    struct Row {
        Text content;
        Text title;
        Text html;
    };
    const Row rows[] = {
        // A short first line without closing punctuation is the title and leaves the body.
        {"春天的早晨\r\n第一段。\r\n\r\n第二段。\r\n", "春天的早晨", "<p>第一段。</p>\r\n<p>第二段。</p>\r\n"},
        {"## 标题：**如何养花**\r\n正文。", "如何养花", "<p>正文。</p>\r\n"},
        // A sentence is no title, also before a closing quotation mark; then the keyword is.
        {"今天天气很好。\r\n第二段", "关键词", "<p>今天天气很好。</p>\r\n<p>第二段</p>\r\n"},
        {"他说：“走吧！”\r\n第二段", "关键词", "<p>他说：“走吧！”</p>\r\n<p>第二段</p>\r\n"},
        {"What is it?\nBody", "关键词", "<p>What is it?</p>\r\n<p>Body</p>\r\n"},
        // Too long for a title.
        {Text(61, 'x') + "\r\nBody", "关键词", "<p>" + Text(61, 'x') + "</p>\r\n<p>Body</p>\r\n"},
        // One line is the body, never the title.
        {"只有一行", "关键词", "<p>只有一行</p>\r\n"},
        // The paragraph form, with an <h1> or a <p> title.
        {"<h1>大标题。</h1>\r\n<p>段落</p>\r\n", "大标题。", "<p>段落</p>\r\n"},
        {"<p>小标题</p>\r\n<p>段落</p>\r\n", "小标题", "<p>段落</p>\r\n"},
        // The bytes of "。" across a character and a lone lead byte are no closing punctuation.
        {"\xb0\xa1\xa3\r\nBody", "\xb0\xa1\xa3", "<p>Body</p>\r\n"},
    };
    for (const Row& row : rows) {
        const Article article = MakeArticle("关键词.txt", "关键词", row.content);
        EXPECT_EQ(article.title, row.title) << GbkToWire(row.content);
        EXPECT_EQ(article.html, row.html) << GbkToWire(row.content);
    }

    const std::map<Text, Text> keywords = {{"甲_乙~22077c91.txt", "甲_乙"},
                                           {"春天.txt", "春天"},
                                           {"a~1234567.txt", "a~1234567"},
                                           {"name.TXT", "name"},
                                           // "~" as the second byte of a double-byte character
                                           {"\x81~12345678.txt", "\x81~12345678"}};
    for (const auto& [file, keyword] : keywords) {
        EXPECT_EQ(KeywordOfFile(file), keyword) << GbkToWire(file);
    }
}

// Over many calendars: times strictly increase, each lies in the window at most the offset behind
// its slot, no day holds more than its share, the first comes after the point it continues from,
// and a calendar continued from its own last post goes on exactly as the first one would have.
TEST(Calendar, SlotsAreEvenOrderedAndContinue) {
    std::mt19937 random(12345);
    for (int round = 0; round < 400; ++round) {
        const int perDay = 1 + static_cast<int>(random() % 30);
        DailyWindow window{static_cast<int>(random() % 1440), static_cast<int>(random() % 1440)};
        if (window.startMinute == window.endMinute) {
            continue;
        }
        const long long after = 1'700'000'000LL + static_cast<long long>(random() % 10'000'000);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const auto jitter = [&] { return unit(random); };
        Calendar calendar(perDay, window, after, jitter);
        Calendar plain(perDay, window, after, [] { return 0.0; });

        const long long gap = window.LengthMinutes() * 60LL / perDay;
        std::map<long long, int> perWindowDay;
        long long previous = after;
        std::vector<long long> times;
        for (int k = 0; k < 3 * perDay + 2; ++k) {
            const long long time = calendar.Next();
            const long long slot = plain.Next();
            ASSERT_GT(time, previous);
            ASSERT_GE(time, slot);
            ASSERT_LE(time - slot, std::min(gap / 5, 600LL));
            // The slot lies in the window: minutes after its start, counted on the day it began.
            const long long sinceStart = ((slot / 60 - window.startMinute) % 1440 + 1440) % 1440;
            ASSERT_LT(sinceStart, window.LengthMinutes());
            ++perWindowDay[(slot / 60 - window.startMinute - sinceStart) / 1440];
            previous = time;
            times.push_back(time);
        }
        for (const auto& [day, count] : perWindowDay) {
            ASSERT_LE(count, perDay);
        }
        // Continued from its third post, the calendar takes the fourth post's slot.
        Calendar continued(perDay, window, times[2], [] { return 0.0; });
        Calendar reference(perDay, window, after, [] { return 0.0; });
        for (int k = 0; k < 3; ++k) {
            reference.Next();
        }
        ASSERT_EQ(continued.Next(), reference.Next()) << perDay << " " << window.startMinute << "-" << window.endMinute;
    }
}

TEST(Calendar, TimesAndWindowsAsWritten) {
    for (long long seconds : {0LL, 951782400LL, 1709164799LL, 4102444800LL, 1700000000LL}) {
        EXPECT_EQ(ParseSiteTime(FormatSiteTime(seconds)), seconds);
    }
    EXPECT_EQ(FormatSiteTime(951782400), "2000-02-29 00:00:00");
    EXPECT_EQ(ParseSiteTime("2024-02-29T23:59:59"), ParseSiteTime("2024-03-01 00:00:00").value() - 1);
    EXPECT_FALSE(ParseSiteTime("2024-13-01 00:00:00"));
    EXPECT_FALSE(ParseSiteTime("2024-01-01"));

    const std::vector<std::pair<Text, std::optional<std::pair<int, int>>>> windows = {
        {"08:00-22:00", std::pair{480, 1320}},
        {"8-22", std::pair{480, 1320}},
        {" 8:30～23:15 ", std::pair{510, 1395}},
        {"２２：００－０６：００", std::pair{1320, 360}},
        {"00:00-24:00", std::pair{0, 1440}},
        {"8:00", std::nullopt},
        {"08:00-08:00", std::nullopt},
        {"25:00-26:00", std::nullopt},
        {"8:5-9:00", std::nullopt},
    };
    for (const auto& [text, expected] : windows) {
        const std::optional<DailyWindow> window = ParseDailyWindow(text);
        ASSERT_EQ(window.has_value(), expected.has_value()) << GbkToWire(text);
        if (window) {
            EXPECT_EQ(window->startMinute, expected->first) << GbkToWire(text);
            EXPECT_EQ(window->endMinute, expected->second) << GbkToWire(text);
        }
    }
}

// A urlencoded body decoded again gives each placeholder's value in the form's encoding, and the
// literal parts as written; a multipart body holds each pair as a part, values byte for byte.
TEST(FormBody, PlaceholdersEncodedAndEscapedLiteralsAsWritten) {
    const auto decode = [](std::string_view body) {
        std::string out;
        for (std::size_t i = 0; i < body.size(); ++i) {
            if (body[i] == '%' && i + 2 < body.size()) {
                out.push_back(static_cast<char>(std::stoi(std::string(body.substr(i + 1, 2)), nullptr, 16)));
                i += 2;
            } else {
                out.push_back(body[i]);
            }
        }
        return out;
    };
    std::mt19937 random(7);
    const std::vector<Text> pieces = {"中文", "a&b=c", "100%", "{内容}", "空 格", "+", "\r\n", "《》", "x"};
    for (int round = 0; round < 200; ++round) {
        Text title;
        for (int k = 0; k < 4; ++k) {
            title += pieces[random() % pieces.size()];
        }
        const FormValues values{{"{标题}", title}, {"{分类}", "新闻"}, {"{内容}", "<p>正文</p>"}};
        for (const FormEncoding encoding : {FormEncoding::kGbk, FormEncoding::kUtf8}) {
            const auto encoded = [&](const Text& gbk) { return encoding == FormEncoding::kUtf8 ? GbkToWire(gbk) : gbk; };
            const FormBody body = BuildFormBody("t={标题}&c={分类}&x={未知}&lit=a%20b&body={内容}", values, encoding,
                                                FormFormat::kUrlEncoded);
            ASSERT_EQ(body.contentType, "application/x-www-form-urlencoded");
            // Every '&' and '=' the body holds is one the fields wrote.
            std::vector<std::string> pairs;
            for (std::size_t start = 0; start <= body.bytes.size();) {
                const std::size_t amp = std::min(body.bytes.find('&', start), body.bytes.size());
                pairs.push_back(body.bytes.substr(start, amp - start));
                start = amp + 1;
            }
            ASSERT_EQ(pairs.size(), 5u) << body.bytes;
            EXPECT_EQ(decode(pairs[0].substr(2)), encoded(title));
            EXPECT_EQ(decode(pairs[1].substr(2)), encoded("新闻"));
            EXPECT_EQ(pairs[2], encoded("x={未知}"));
            EXPECT_EQ(pairs[3], "lit=a%20b");
            EXPECT_EQ(decode(pairs[4].substr(5)), "<p>" + encoded("正文") + "</p>");
        }
    }

    const Text tricky = "------QingjianFormBoundary inside";
    const FormBody multipart = BuildFormBody("title={标题}&kind=文章", {{"{标题}", tricky}}, FormEncoding::kUtf8,
                                             FormFormat::kMultipart);
    const std::string boundary = multipart.contentType.substr(multipart.contentType.find("boundary=") + 9);
    EXPECT_EQ(tricky.find("--" + boundary), Text::npos);
    EXPECT_EQ(multipart.bytes, "--" + boundary + "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n" + tricky +
                                   "\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"kind\"\r\n\r\n" +
                                   GbkToWire("文章") + "\r\n--" + boundary + "--\r\n");
}

TEST(FormProfile, KeysReadAndMistakesNamed) {
    const std::string utf8Profile = GbkToWire(
        "[登录]\r\n地址=https://site.example/admin/login.php\r\n字段=username=editor&password=secret\r\n"
        "成功标记=登录成功\r\n[发布]\r\n地址=https://site.example/admin/post.php\r\n编码=UTF-8\r\n格式=multipart\r\n"
        "字段=title={标题}&body={内容}\r\n成功标记=/发布(成功|完成)/\r\n失败标记=发布失败\r\n"
        "[列表]\r\n地址=https://site.example/list.php\r\n");
    const FormProfileReading reading = ParseFormProfile(utf8Profile, "p.ini");
    ASSERT_TRUE(reading.profile) << GbkToWire(reading.error);
    EXPECT_EQ(reading.profile->login->fields, "username=editor&password=secret");
    EXPECT_EQ(reading.profile->encoding, FormEncoding::kUtf8);
    EXPECT_EQ(reading.profile->format, FormFormat::kMultipart);
    EXPECT_EQ(reading.profile->listUrl, "https://site.example/list.php");
    EXPECT_TRUE(MarkerFound(reading.profile->publish.successMarker, "文章发布完成了"));
    EXPECT_FALSE(MarkerFound(reading.profile->publish.successMarker, "文章已保存"));

    const std::vector<std::pair<Text, Text>> broken = {
        {"[发布]\r\n字段=a=1\r\n成功标记=好\r\n", "缺少[发布]节的地址"},
        {"[发布]\r\n地址=ftp://x\r\n成功标记=好\r\n", "[发布]的地址应以 http:// 或 https:// 开头"},
        {"[发布]\r\n地址=http://x/p\r\n", "[发布]缺少成功标记：没有它就无法确认文章已经发布"},
        {"[发布]\r\n地址=http://x/p\r\n成功标记=好\r\n编码=BIG5\r\n", "[发布]的编码只能是 GBK 或 UTF-8"},
        {"[发布]\r\n地址=http://x/p\r\n成功标记=好\r\n方法=GET\r\n格式=multipart\r\n", "multipart 格式只能用 POST 方法"},
    };
    for (const auto& [profile, error] : broken) {
        EXPECT_EQ(ParseFormProfile(profile, "p.ini").error, error) << GbkToWire(profile);
    }
}

TEST(PublishSettings, SiteLinesAndPageValues) {
    PublishingHome home;
    testing::WriteBytes(home.Path() / u8"站点.ini",
                        "[发布]\r\n地址=http://127.0.0.1:1/post.php\r\n成功标记=ok\r\n");
    PublishTexts texts;
    texts.sites =
        "# 我的网站\r\n"
        "wordpress https://blog.example/wp-json/ editor abcd EFGH ijkl MNOP qrst UVWX\r\n"
        "\r\n"
        "表单 站点.ini\r\n"
        "WordPress https://blog.example/ editor other\r\n"  // the same site again
        "wordpress blog.example editor secret-password\r\n"
        "wordpress http://x.example editor\r\n"
        "表单 没有这个文件.ini\r\n"
        "ftp x\r\n";
    texts.status = "定时";
    texts.postsPerDay = "3";
    texts.hours = "9-18";
    texts.categories = "新闻， 资讯,,科技、 ";
    const PublishSettingsReading reading = ReadPublishSettings(texts, home.Folder());
    EXPECT_EQ(reading.error, "");
    ASSERT_EQ(reading.settings.sites.size(), 2u);
    EXPECT_EQ(reading.settings.sites[0].wordpress.url, "https://blog.example");
    EXPECT_EQ(reading.settings.sites[0].wordpress.appPassword, "abcdEFGHijklMNOPqrstUVWX");
    EXPECT_EQ(reading.settings.sites[1].form.publish.url, "http://127.0.0.1:1/post.php");
    EXPECT_EQ(reading.settings.categories, (TextList{"新闻", "资讯", "科技"}));
    EXPECT_EQ(reading.settings.status, PostStatus::kFuture);
    EXPECT_EQ(reading.settings.postsPerDay, 3);
    EXPECT_EQ(reading.settings.hours.startMinute, 9 * 60);
    ASSERT_EQ(reading.problems.size(), 5u);
    EXPECT_EQ(reading.problems[0], "发布站点第5行无法使用，已跳过：与前面的一行是同一个网站");
    EXPECT_EQ(reading.problems[1], "发布站点第6行无法使用，已跳过：网址应以 http:// 或 https:// 开头");
    EXPECT_EQ(reading.problems[2], "发布站点第7行无法使用，已跳过：应写成 wordpress 网址 用户名 应用密码");
    EXPECT_EQ(reading.problems[3].find("发布站点第8行无法使用，已跳过：表单配置文件不存在或是空的："), 0u);
    EXPECT_EQ(reading.problems[4], "发布站点第9行无法使用，已跳过：行首应是 wordpress 或 表单");
    for (const Text& problem : reading.problems) {
        EXPECT_EQ(problem.find("secret-password"), Text::npos);
    }

    const std::vector<std::tuple<Text, Text, Text, Text>> errors = {
        {"wordpress http://a.example u p", "公开", "", ""},
        {"wordpress http://a.example u p", "定时", "0", ""},
        {"wordpress http://a.example u p", "定时", "", "8点到22点"},
        {"# 没有网站", "草稿", "", ""},
    };
    const TextList messages = {"发布状态只能是 发布、草稿 或 定时", "每天篇数应是 1 到 1440 之间的整数",
                               "发布时段应写成 08:00-22:00 这样的形式",
                               "没有可用的发布站点：请在「发布设置」页的站点框里每行写一个网站"};
    for (std::size_t k = 0; k < errors.size(); ++k) {
        PublishTexts wrong;
        std::tie(wrong.sites, wrong.status, wrong.postsPerDay, wrong.hours) = errors[k];
        EXPECT_EQ(ReadPublishSettings(wrong, home.Folder()).error, messages[k]);
    }
}

// Many workers adding lines at once: each returns only when its line is on the disk, and the file
// ends up with every line; a ledger read again knows every entry, and a journal read again drops the
// lines of posts the ledger holds.
TEST(Ledger, ConcurrentRecordsAllDurableAndJournalFollowsLedger) {
    PublishingHome home;
    std::filesystem::create_directories(home.OpenAi());
    const Text folder = home.Folder() + "/OpenAi";
    testing::WriteBytes(home.OpenAi() / u8"发布记录.txt", "# 手写的注释\r\nold.txt\thttp://a.example\t1\t-\t2030-01-02 03:04:05\r\n");
    Ledger ledger(folder + "/发布记录.txt");
    ASSERT_FALSE(ledger.Load());
    PublishJournal journal(folder + "/正在发布.txt");
    ASSERT_FALSE(journal.Load(ledger));

    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([&, w] {
            for (int k = 0; k < 25; ++k) {
                const Text file = "文章" + std::to_string(w) + "-" + std::to_string(k) + ".txt";
                ASSERT_FALSE(journal.Begin(file, "http://a.example"));
                // Read while other workers replace the file: Windows refuses a replacement while the
                // file is open, so there the reads are left out (a reader in that moment makes the
                // write fail, and the publication stops with its journal kept).
#if !defined(_WIN32)
                ASSERT_TRUE(ReadFileBytes(folder + "/正在发布.txt").value_or("").find(file) != std::string::npos);
#endif
                if (k % 5 != 4) {
                    ASSERT_FALSE(ledger.Record({{file, "http://a.example", std::to_string(k), "http://a.example/?p=1",
                                                 "2031-01-01 00:00:0" + std::to_string(w % 10)}}));
#if !defined(_WIN32)
                    ASSERT_TRUE(ReadFileBytes(folder + "/发布记录.txt").value_or("").find(file) != std::string::npos);
#endif
                    journal.End(file, "http://a.example");
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    Ledger again(folder + "/发布记录.txt");
    ASSERT_FALSE(again.Load());
    EXPECT_EQ(PublishingHome::Lines(home.Read(u8"发布记录.txt")).size(), 2u + 8 * 20);
    EXPECT_TRUE(again.Has("old.txt", "http://a.example"));
    EXPECT_TRUE(again.Has("文章7-3.txt", "http://a.example"));
    EXPECT_FALSE(again.HasFile("文章7-4.txt"));
    EXPECT_EQ(again.LatestDate("http://a.example"), "2031-01-01 00:00:07");

    // The journal on the disk still holds lines the ledger has (their ends were not written):
    // read again, only the posts without a ledger line are left.
    PublishJournal reread(folder + "/正在发布.txt");
    ASSERT_FALSE(reread.Load(again));
    EXPECT_TRUE(reread.Has("文章3-4.txt", "http://a.example"));
    EXPECT_FALSE(reread.Has("文章3-3.txt", "http://a.example"));
    ASSERT_FALSE(reread.Flush());
    EXPECT_EQ(PublishingHome::Lines(home.Read(u8"正在发布.txt")).size(), 8u * 5);
}

}  // namespace
}  // namespace qj::publishing
