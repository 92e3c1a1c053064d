#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "brenkit/fileIO.hpp"
#include "brenkit/fileIO_internal.hpp"
#include "harness.hpp"

using namespace brenkit::fileIO;
using brenkit::app_logging::Capture;
using ::testing::HasSubstr;

namespace {

YAML::Node value_of(const std::string& scalar_text) {
    auto doc = load_yaml_string("v: " + scalar_text);
    EXPECT_TRUE(doc.has_value()) << scalar_text;
    return child(*doc, "v");
}

}  // namespace

TEST(FileIOYaml, PlainScalarsResolveLikeAYaml11SafeLoader) {
    struct Case {
        const char* text;
        ScalarKind kind;
        bool truth;
    };
    const Case cases[] = {
        {"", ScalarKind::null, false},          {"~", ScalarKind::null, false},
        {"Null", ScalarKind::null, false},      {"NULL", ScalarKind::null, false},
        {"'null'", ScalarKind::text, true},     {"nUll", ScalarKind::text, true},
        {"yes", ScalarKind::boolean, true},     {"No", ScalarKind::boolean, false},
        {"ON", ScalarKind::boolean, true},      {"off", ScalarKind::boolean, false},
        {"True", ScalarKind::boolean, true},    {"FALSE", ScalarKind::boolean, false},
        {"tRue", ScalarKind::text, true},       {"y", ScalarKind::text, true},
        {"\"true\"", ScalarKind::text, true},   {"0", ScalarKind::integer, false},
        {"-12", ScalarKind::integer, true},     {"1_000", ScalarKind::integer, true},
        {"0x1F", ScalarKind::integer, true},    {"0x0", ScalarKind::integer, false},
        {"017", ScalarKind::integer, true},     {"0b0", ScalarKind::integer, false},
        {"08", ScalarKind::text, true},         {"0o17", ScalarKind::text, true},
        {"1:30", ScalarKind::integer, true},    {"1.5", ScalarKind::floating, true},
        {"0.0", ScalarKind::floating, false},   {"-.5", ScalarKind::text, true},
        {".5", ScalarKind::floating, true},     {"1.", ScalarKind::floating, true},
        {"1.0e+3", ScalarKind::floating, true}, {"1.0e3", ScalarKind::text, true},
        {"1e3", ScalarKind::text, true},        {".inf", ScalarKind::floating, true},
        {"-.Inf", ScalarKind::floating, true},  {".NaN", ScalarKind::floating, true},
        {"3.5.1", ScalarKind::text, true},      {"'1.5'", ScalarKind::text, true},
        {"|\n  0\n", ScalarKind::text, true},   {"''", ScalarKind::text, false},
        {"!!int '7'", ScalarKind::integer, true}, {"[]", ScalarKind::text, false},
        {"{a: 1}", ScalarKind::text, true},
    };
    for (const auto& c : cases) {
        auto node = value_of(c.text);
        EXPECT_EQ(scalar_kind(node), c.kind) << c.text;
        EXPECT_EQ(truthy(node), c.truth) << c.text;
    }
}

TEST(FileIOYaml, ReadingHelpersApplyDefaultsAndTruth) {
    auto doc = *load_yaml_string("config:\n  name: demo\n  empty: ''\n  nothing:\n  zero: 0\n  debug: yes\n  list: [a]\n");
    auto config = child(doc, "config");
    EXPECT_EQ(text_or(child(config, "name"), "x"), "demo");
    EXPECT_EQ(text_or(child(config, "zero"), "x"), "0");
    EXPECT_EQ(text_or(child(config, "empty"), "x"), "");
    EXPECT_EQ(text_or(child(config, "nothing"), "x"), "x");
    EXPECT_EQ(text_or(child(config, "list"), "x"), "x");
    EXPECT_EQ(text_or_default(child(config, "empty"), "x"), "x");
    EXPECT_EQ(text_or_default(child(config, "zero"), "x"), "x");
    EXPECT_EQ(text_or_default(child(config, "name"), "x"), "demo");
    EXPECT_TRUE(bool_or(child(config, "debug"), false));
    EXPECT_TRUE(bool_or(child(config, "missing"), true));
    EXPECT_FALSE(bool_or(child(config, "nothing"), true));  // present but null
    // Missing keys and non-mappings give undefined nodes that every helper accepts.
    auto deep = child(child(child(doc, "absent"), "more"), "x");
    EXPECT_FALSE(deep.IsDefined());
    EXPECT_EQ(text_or(deep, "d"), "d");
    EXPECT_EQ(scalar_kind(child(config, "name")), ScalarKind::text);
    EXPECT_FALSE(child(child(config, "name"), "x").IsDefined());
}

// A setting present with a value of the wrong kind takes the default, with one warning
// that names the key, the kind expected and the default; a missing key is silent, and
// numbers and booleans are texts as they are written.
TEST(FileIOYaml, TextSettingNamesAWrongKindAndUsesTheDefault) {
    auto config = *load_yaml_string("name: demo\nport: 8080\nflag: yes\nempty: ''\nlist: [a, b]\nmap: {a: b}\nnothing:\n");
    struct Case {
        const char* key;
        std::string value;
        std::string warning;
    };
    const Case cases[] = {
        {"name", "demo", ""},
        {"port", "8080", ""},
        {"flag", "yes", ""},
        {"empty", "", ""},
        {"missing", "./out", ""},
        {"list", "./out", "⚠️ Config key 'list' should be a text but holds a list; the default './out' is used."},
        {"map", "./out", "⚠️ Config key 'map' should be a text but holds a mapping; the default './out' is used."},
        {"nothing", "./out", "⚠️ Config key 'nothing' should be a text but holds no value; the default './out' is used."},
    };
    for (const auto& c : cases) {
        Capture cap;
        EXPECT_EQ(text_setting(config, c.key, "./out"), c.value) << c.key;
        EXPECT_EQ(cap.messages(), c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning});
    }
}

// A key given twice in one mapping: the later copy is the one used, as a reader of the
// file expects, with a warning that names the key and the line of that copy. What the
// earlier copy held is not looked at.
TEST(FileIOYaml, KeyGivenTwiceTakesTheLaterCopyWithAWarning) {
    th::TempDir dir;
    th::write_file(dir / "twice.yaml",
                   "config:\n"                // 1
                   "  output_dir: first\n"    // 2
                   "  output_dir: second\n"   // 3
                   "other: 1\n"               // 4
                   "config:\n"                // 5
                   "  output_dir: third\n"    // 6
                   "  goal_path: g\n"         // 7
                   "  goal_path: h\n");       // 8
    Capture cap;
    auto loaded = load_yaml_config(dir / "twice.yaml");
    ASSERT_TRUE(loaded.has_value());
    auto config = child(*loaded, "config");
    EXPECT_EQ(text_or(child(config, "output_dir"), ""), "third");
    EXPECT_EQ(text_or(child(config, "goal_path"), ""), "h");
    EXPECT_EQ(loaded->size(), 2u);
    EXPECT_EQ(config.size(), 2u);
    const std::string file = (dir / "twice.yaml").string();
    EXPECT_EQ(cap.messages(),
              (std::vector<std::string>{
                  "⚠️ Config key 'config' is given again on line 5 of " + file + "; the later value is used.",
                  "⚠️ Config key 'goal_path' is given again on line 8 of " + file + "; the later value is used."}));
}

TEST(FileIOYaml, ConfigThatCannotBeUsedGivesNothingWithAReason) {
    th::TempDir dir;
    th::write_file(dir / "bad.yaml", "config: [unclosed\n");
    th::write_file(dir / "list.yaml", "- a\n- b\n");
    th::write_file(dir / "empty.yaml", "");
    th::write_file(dir / "good.yaml", "config:\n  a: 1\n");
    fs::create_directory(dir / "folder.yaml");
    struct Case {
        const char* name;
        const char* reason;
    };
    const Case cases[] = {{"missing.yaml", "找不到設定檔"},
                          {"folder.yaml", "資料夾"},
                          {"bad.yaml", "格式錯誤"},
                          {"list.yaml", "不是鍵值對應"},
                          {"empty.yaml", "不是鍵值對應"}};
    for (const auto& c : cases) {
        Capture cap;
        EXPECT_FALSE(load_yaml_config(dir / c.name).has_value()) << c.name;
        ASSERT_EQ(cap.records().size(), 1u) << c.name;
        EXPECT_THAT(cap.text(), HasSubstr(c.reason)) << c.name;
        EXPECT_THAT(cap.text(), HasSubstr("❌"));
    }
    auto good = load_yaml_config(dir / "good.yaml");
    ASSERT_TRUE(good.has_value());
    EXPECT_EQ(text_or(child(child(*good, "config"), "a"), ""), "1");
}

TEST(FileIOYaml, SavedConfigReadsBackTheSameWithOrderAndUtf8Kept) {
    th::TempDir dir;
    const std::string source =
        "zeta: 中文說明\n"
        "alpha: '1.0'\n"
        "count: 3\n"
        "ratio: 0.5\n"
        "flag: yes\n"
        "none: ~\n"
        "quote: 'say \"hi\"\\n'\n"
        "list: [a, 'yes', 2]\n"
        "nested: {b: x, a: ''}\n"
        "'123': key that looks like a number\n";
    auto data = *load_yaml_string(source);
    data["added"] = quoted("null");
    auto path = dir / "out.yaml";
    ASSERT_TRUE(save_yaml_config(path, data).ok);
    auto written = th::read_file(path);
    EXPECT_THAT(written, HasSubstr("zeta: \"中文說明\""));
    EXPECT_THAT(written, HasSubstr("alpha: \"1.0\""));
    EXPECT_THAT(written, HasSubstr("count: 3\n"));
    EXPECT_THAT(written, HasSubstr("flag: yes\n"));

    auto back = load_yaml_config(path);
    ASSERT_TRUE(back.has_value());
    std::vector<std::string> keys;
    for (const auto& kv : *back) keys.push_back(kv.first.Scalar());
    EXPECT_EQ(keys, (std::vector<std::string>{"zeta", "alpha", "count", "ratio", "flag", "none", "quote", "list",
                                              "nested", "123", "added"}));
    auto same_kind_and_text = [&](const YAML::Node& a, const YAML::Node& b) {
        EXPECT_EQ(scalar_kind(a), scalar_kind(b));
        EXPECT_EQ(text_or(a, "<none>"), text_or(b, "<none>"));
    };
    for (const auto& key : keys) {
        if (key == "list" || key == "nested") continue;
        same_kind_and_text(child(*back, key), child(data, key));
    }
    EXPECT_EQ(scalar_kind(child(*back, "added")), ScalarKind::text);
    EXPECT_EQ(scalar_kind((*back)["list"][1]), ScalarKind::text);
    EXPECT_EQ(scalar_kind((*back)["list"][2]), ScalarKind::integer);
    EXPECT_EQ(text_or(child(child(*back, "nested"), "b"), ""), "x");
    EXPECT_EQ(text_or(child(*back, "quote"), ""), "say \"hi\"\\n");
}

// A value used in several places is written once with an anchor and referred to by
// aliases: a few lines that nest aliases ("billion laughs") stay a few lines.
TEST(FileIOYaml, SavedConfigKeepsAnchorsAndAliases) {
    th::TempDir dir;
    std::string source = "download_link: package.zip\nl0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
    for (int level = 1; level <= 12; ++level) {
        auto prev = "*l" + std::to_string(level - 1);
        const std::string n = std::to_string(level);
        source += "l" + n + ": &l" + n + " [";
        for (int i = 0; i < 10; ++i) source += (i ? ", " : "") + prev;
        source += "]\n";
    }
    source += "base: &base {title: Guide, count: 2}\nfirst: *base\nsecond: *base\n";
    auto data = *load_yaml_string(source);
    data["download_link"] = quoted("other.zip");
    auto path = dir / "out.yaml";
    ASSERT_TRUE(save_yaml_config(path, data).ok);
    auto written = th::read_file(path);
    EXPECT_LT(written.size(), 2 * source.size()) << written.substr(0, 2000);

    auto back = load_yaml_config(path);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(text_or(child(*back, "download_link"), ""), "other.zip");
    // Shared nodes read back as shared nodes, with their kinds.
    EXPECT_TRUE((*back)["first"].is((*back)["second"]));
    EXPECT_TRUE((*back)["first"].is((*back)["base"]));
    EXPECT_EQ(scalar_kind((*back)["first"]["count"]), ScalarKind::integer);
    EXPECT_EQ(text_or((*back)["second"]["title"], ""), "Guide");
    EXPECT_TRUE((*back)["l12"][9].is((*back)["l11"]));
    EXPECT_EQ(text_or((*back)["l1"][3][9], ""), "lol");
    // Nodes that merely look alike are not shared.
    auto plain = *load_yaml_string("a: [x]\nb: [x]\n");
    ASSERT_TRUE(save_yaml_config(path, plain).ok);
    EXPECT_EQ(th::read_file(path), "a:\n  - \"x\"\nb:\n  - \"x\"\n");
}

// A text that is not UTF-8 (a file name in Latin-1) cannot be written as it is: the save
// is refused with a reason that names its key, and the file keeps what it held, instead of
// taking U+FFFD in the text's place.
TEST(FileIOYaml, TextThatIsNotUtf8IsRefusedNotRewritten) {
    th::TempDir dir;
    const auto path = dir / "out.yaml";
    th::write_file(path, "kept: as it was\n");
    const std::pair<std::string, std::string> cases[] = {
        {"title: ok\ndocument1_file: \"d\xff-v2.txt\"\n", "document1_file"},
        {"list: [ok, \"\xfe\"]\n", "list[1]"},
        {"\"k\xff\": v\n", "k\\xff"},
    };
    for (const auto& [source, key] : cases) {
        auto data = load_yaml_string(source);
        ASSERT_TRUE(data.has_value()) << source;
        Capture cap;
        auto saved = save_yaml_config(path, *data);
        EXPECT_FALSE(saved.ok) << source;
        EXPECT_THAT(saved.text, HasSubstr(key));
        EXPECT_THAT(saved.text, HasSubstr("UTF-8"));
        EXPECT_EQ(th::read_file(path), "kept: as it was\n");
    }
}

// A configuration of simple scalars is written without asking yaml-cpp's emitter how, and
// reads exactly as the emitter writes it: every kind of key and value, the characters it
// escapes or takes another form for, and documents of other shapes.
TEST(FileIOYaml, SavedTextIsTheEmittersWhateverTheDocument) {
    std::string index = "document_title: \"說明文件\"\ndownload_link: \"package.zip\"\n";
    for (int i = 1; i <= 40; ++i)
        index += "document" + std::to_string(i) + "_title: \"Note \\\"" + std::to_string(i) + "\\\" \\\\ 筆記 😀\"\n" +
                 "document" + std::to_string(i) + "_file: note-" + std::to_string(i) + "_v1.0.html\n" +
                 "document" + std::to_string(i) + "_description: ''\n";
    const std::string long_text(1100, 'x'), edge_text(1024, 'y');
    const std::vector<std::string> documents = {
        index,
        "a: 3\nb: -1.5\nc: 0x1F\nd: 1:30\ne: .inf\nf: yes\ng: No\nh: ~\ni:\nj: null\nk: +12\nl: 1_000\nm: -.NaN\n"
        "n: 0b101\no: 1.5e+3\np: '3'\nq: \"true\"\nr: ''\n",
        "'on': 1\n'123': x\n'a b': c\n-x: y\n'x:': z\n'-': q\n'null': r\n1a: s\na.b: t\na+b: u\na:b: v\n+a: w\n':a': x\n"
        "yes: 1\n'~': 2\nA_B-c: 3\n",
        "a: \"tab\\there\"\nb: \"nbsp\\u00a0\"\nc: \"bom\\ufeff\"\nd: \"del\\x7f\"\ne: \"line\\nbreak\"\nf: \"c1\\x85\"\n",
        "a: \"é\\u2028ü\\ufffd\\u00a1\"\nb: \"\\U0001F600 and \\u0301\"\n",
        "k: " + long_text + "\n? " + long_text + "\n: v\n" + edge_text + ": " + edge_text + "\n",
        "a: !!str 5\nb: !custom x\nc: !!int \"7\"\nd: ! plain\n",
        "a: &x foo\nb: *x\n",
        "a: [1, 2]\nb: {c: d}\n",
        "{}\n",
        "[a, b]\n",
        "just a text\n",
        "a: \"\\xff\"\n",
    };
    for (const auto& text : documents) {
        SCOPED_TRACE(text.substr(0, 200));
        auto data = load_yaml_string(text);
        ASSERT_TRUE(data.has_value());
        EXPECT_EQ(dump_yaml(*data), emit_yaml(*data));
    }
    // Built in code, as the commands add entries.
    YAML::Node built;
    built["document1_file"] = quoted("a \"b\".html");
    built["count"] = 5;
    built["flag"] = true;
    built["null"] = "null";
    built["on"] = quoted("off");
    built["empty"] = YAML::Node(YAML::NodeType::Null);
    built["text"] = "plain";
    built["ill"] = std::string("bad \xc3");
    EXPECT_EQ(dump_yaml(built), emit_yaml(built));
    built.remove("ill");
    EXPECT_EQ(dump_yaml(built), emit_yaml(built));
}

TEST(FileIOYaml, TemplateIsWrittenByteForByteInTheCurrentFolder) {
    th::TempDir dir;
    auto previous = fs::current_path();
    fs::current_path(dir.path());
    const std::string text = "config:\n  # 註解\n  output_dir: './docs'   \n\n";
    auto path = save_yaml_template(text, "config_demo_template.yaml");
    fs::current_path(previous);
    EXPECT_EQ(path, dir / "config_demo_template.yaml");
    EXPECT_EQ(th::read_file(path), text);
}
