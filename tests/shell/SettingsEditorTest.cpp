// The settings pages' rules, without a display: what OK stores, the limits
// of the lists and the values a page refuses.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "config/CSetting.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "shell/SettingsEditor.h"
#include "acquire/ApiSessionCache.h"

namespace tav {
namespace {

constexpr int kCtFixed = 0;

// Opens an editor on `setting`, lets `edit` change it and presses OK.
std::optional<SettingsEditor::Refusal> EditAndAccept(CSetting& setting,
                                                     const std::function<void(SettingsEditor&)>& edit,
                                                     ApiSessionCache* session = nullptr) {
  SettingsEditor editor(setting, SettingsServices{nullptr, session});
  edit(editor);
  return editor.Accept(setting);
}

TEST(SettingsEditor, DirectModeIsStoredAsChosen) {
  CSetting setting;
  ASSERT_FALSE(EditAndAccept(setting, [](SettingsEditor& e) { e.basic.datMode = 0; }));
  EXPECT_EQ(setting.Snapshot()->DatMode, 0);
}

TEST(SettingsEditor, ChoosingAnotherProfileDropsTheSessionId) {
  struct Row {
    const char* name;
    int select;  // profile chosen in the drop-down
    bool cleared;
  };
  const Row rows[] = {{"same profile", 0, false}, {"other profile", 1, true}, {"profile added", -2, true}};
  for (const Row& row : rows) {
    CSetting setting;
    setting.Update([](SettingValues& v) { v.ApiProfiles.push_back(C2chAPIInfo{}); });
    ApiSessionCache session;
    session.sessionId = "Monazilla/2.00:SESSION";
    ASSERT_FALSE(EditAndAccept(
        setting,
        [&](SettingsEditor& e) {
          if (row.select == -2) {
            e.api.Add();
          } else {
            e.api.Select(row.select);
          }
        },
        &session));
    EXPECT_EQ(session.sessionId.empty(), row.cleared) << row.name;
    EXPECT_EQ(setting.Snapshot()->Current, row.select == -2 ? 2 : row.select) << row.name;
  }
}

TEST(SettingsEditor, ApiPageStoresTheShownFieldsAndTheLifetime) {
  CSetting setting;
  ASSERT_FALSE(EditAndAccept(setting, [](SettingsEditor& e) {
    e.api.sidTime = -1;
    e.api.shown.HMKey.SetWide(u"hmkey");
    e.api.shown.CTMode = kCtFixed;
    EXPECT_TRUE(e.api.CTEnabled());
  }));
  auto v = setting.Snapshot();
  EXPECT_EQ(v->SIDTime, -1);
  EXPECT_EQ(v->ApiProfiles[0].HMKey.Wide(), u"hmkey") << "OK stores the fields without 更新";
  EXPECT_EQ(v->ApiProfiles[0].CTMode, kCtFixed);
}

TEST(SettingsEditor, NothingChangesWithoutOk) {
  CSetting setting;
  const auto before = setting.Snapshot();
  {
    SettingsEditor editor(setting);
    editor.api.Add();
    editor.autoRules.Add();
    editor.basic.datMode = 4;
  }  // Cancel drops the editor
  EXPECT_EQ(setting.Snapshot(), before);
  EXPECT_EQ(setting.Snapshot()->ApiProfiles.size(), 1u);
}

TEST(SettingsEditor, NumberEntries) {
  struct Row {
    const char16_t* buffer;
    int bufferBytes;
    const char16_t* timeout;
    int timeoutMs;
  };
  const Row rows[] = {
      {u"0", 1024, u"0", 0},
      {u"abc", 1024, u"abc", 0},
      {u"8", 8192, u"500", 500},
      {u" 16 ", 16384, u"-5", 0},
      {u"99999999", 2147482624, u"99999999999", 2147483647},
  };
  for (const Row& row : rows) {
    CSetting setting;
    ASSERT_FALSE(EditAndAccept(setting, [&](SettingsEditor& e) {
      e.network.bufferKB = row.buffer;
      e.network.connectTimeOut = row.timeout;
    }));
    EXPECT_EQ(setting.Snapshot()->RecvBufferSize, row.bufferBytes);
    EXPECT_EQ(setting.Snapshot()->ConnectTimeOut, row.timeoutMs);
  }
  // the page shows the buffer in KB
  CSetting setting;
  EXPECT_EQ(SettingsEditor(setting).network.bufferKB, u"4");
}

TEST(SettingsEditor, TheReadersThatMayConnectAreStoredAsTyped) {
  CSetting setting;
  constexpr char16_t kTyped[] = u"127.0.0.1/32, 192.168.1.23";
  ASSERT_FALSE(EditAndAccept(setting, [&](SettingsEditor& e) { e.network.allowFrom = kTyped; }));
  EXPECT_EQ(setting.Snapshot()->AllowFrom.Wide(), kTyped);
  EXPECT_EQ(SettingsEditor(setting).network.allowFrom, kTyped);
}

TEST(SettingsEditor, CacheCountOfZeroOrLessIsStoredAsOne) {
  for (int typed : {0, -3, 7}) {
    CSetting setting;
    ASSERT_FALSE(EditAndAccept(setting, [&](SettingsEditor& e) { e.html.datCacheCount = typed; }));
    EXPECT_EQ(setting.Snapshot()->DatCacheCount, typed <= 0 ? 1 : typed);
  }
}

TEST(SettingsEditor, HostAndPortEntry) {
  struct Row {
    const char16_t* entry;
    const char* host;
    int port;
  };
  const Row rows[] = {
      {u"192.168.0.2:8080", "192.168.0.2", 8080},
      {u"localhost:abc", "localhost", 0},  // not a number: 0
      {u"127.0.0.1", "127.0.0.1", 8822},   // no ":": both unchanged
      {u":9000", "", 9000},
      {u"h:1:2", "h", 0},  // split at the first ":"
  };
  for (const Row& row : rows) {
    CSetting setting;
    ASSERT_FALSE(EditAndAccept(setting, [&](SettingsEditor& e) { e.basic.hostPort = row.entry; }));
    EXPECT_EQ(setting.Snapshot()->GatewayHost.Narrow(), row.host);
    EXPECT_EQ(setting.Snapshot()->GatewayPort, row.port);
  }
  CSetting setting;
  EXPECT_EQ(SettingsEditor(setting).basic.hostPort, u"127.0.0.1:8822");
}

TEST(SettingsEditor, ColumnResetRestoresTheOrderAndKeepsTheWidths) {
  CSetting setting;
  const std::array<int, 8> widths = {20, 30, 40, 50, 60, 70, 80, 90};
  setting.Update([&](SettingValues& v) {
    v.ColumnOrder = {7, 6, 5, 4, 3, 2, 1, 0};
    v.ColumnWidth = widths;
  });
  ASSERT_FALSE(EditAndAccept(setting, [](SettingsEditor& e) {
    EXPECT_EQ(e.logView.columns.Items().front(), 7);
    e.logView.columns.Select(3);
    e.logView.columns.MoveUp();
    EXPECT_EQ(e.logView.columns.Selected(), 2) << "the selection follows";
    e.logView.ResetColumns();
    EXPECT_EQ(e.logView.columns.Selected(), 2) << "the selected position stays";
    e.logView.logMax = 10;
  }));
  EXPECT_EQ(setting.Snapshot()->ColumnOrder, kDefaultColumnOrder);
  EXPECT_EQ(setting.Snapshot()->ColumnWidth, widths);
  EXPECT_EQ(setting.Snapshot()->LogMax, 10);
}

TEST(SettingsEditor, DomainPageUsesTheFileRule) {
  struct Row {
    DomainKey key;
    const char16_t* text;
    bool refused;
  };
  const Row rows[] = {
      {DomainKey::Primary, u"2ch.net", true},         {DomainKey::Secondary, u".5ch.example.test", false},
      {DomainKey::Aliases, u".a.test, b.test", true}, {DomainKey::Aliases, u"", false},
      {DomainKey::Headline, u"news.", false},         {DomainKey::Adult, u"", false},
  };
  for (const Row& row : rows) {
    CSetting setting;
    const auto before = setting.Snapshot();
    auto refusal = EditAndAccept(setting, [&](SettingsEditor& e) {
      e.domain.Text(row.key) = row.text;
      e.basic.datMode = 4;
    });
    ASSERT_EQ(refusal.has_value(), row.refused) << Utf16ToUtf8(row.text);
    if (row.refused) {
      EXPECT_EQ(refusal->page, SettingsPageId::Domain);
      EXPECT_NE(refusal->message.find(DomainKeyName(row.key)), std::u16string::npos) << "names the field";
      EXPECT_EQ(setting.Snapshot(), before) << "nothing is stored";
    } else {
      BoardDomains expected;
      ASSERT_TRUE(SetDomainText(expected, row.key, row.text));
      EXPECT_EQ(DomainText(setting.Snapshot()->Domains, row.key), DomainText(expected, row.key));
    }
  }
  // restoring the defaults on the page
  CSetting setting;
  SettingsEditor editor(setting);
  editor.domain.Text(DomainKey::Secondary) = u".elsewhere.test";
  editor.domain.RestoreDefaults();
  EXPECT_EQ(editor.domain.Text(DomainKey::Secondary), u".5ch.io");
}

TEST(SettingsEditor, ListLimits) {
  CSetting setting;
  SettingsEditor e(setting);
  struct Row {
    const char* name;
    std::function<bool()> add;
    std::function<int()> count;
    int limit;
  };
  const Row rows[] = {
      {"profiles", [&] { return e.api.Add(); }, [&] { return e.api.Profiles().Size(); }, 100},
      {"rules", [&] { return e.autoRules.Add(); }, [&] { return e.autoRules.Rules().Size(); }, 99},
      {"pattern sets", [&] { return e.patternSets.Add(); }, [&] { return e.patternSets.Sets().Size(); }, 100},
  };
  for (const Row& row : rows) {
    while (row.count() < row.limit) ASSERT_TRUE(row.add()) << row.name;
    EXPECT_FALSE(row.add()) << row.name;
    EXPECT_EQ(row.count(), row.limit) << row.name;
  }
  EXPECT_EQ(e.api.Labels()[99], u"100. noname");
  EXPECT_EQ(e.autoRules.Rules().Items().back().rule, u"hoge");
  EXPECT_EQ(e.autoRules.Rules().Items().back().mode, 2);

  // the last profile and the last pattern set stay
  CSetting fresh;
  SettingsEditor f(fresh);
  ASSERT_EQ(f.api.Profiles().Size(), 1);
  EXPECT_FALSE(f.api.CanDelete());
  EXPECT_FALSE(f.api.Delete());
  while (f.patternSets.Sets().Size() > 1) ASSERT_TRUE(f.patternSets.Delete());
  EXPECT_FALSE(f.patternSets.Delete());
  EXPECT_EQ(f.patternSets.Sets().Size(), 1);
  // rules may all go
  while (f.autoRules.Rules().Size() > 0) {
    f.autoRules.Select(0);
    ASSERT_TRUE(f.autoRules.Delete());
  }
}

TEST(SettingsEditor, ListEditing) {
  CSetting setting;
  setting.Update([](SettingValues& v) { v.ApiProfiles.resize(3); });
  SettingsEditor e(setting);

  // deleting a profile selects the previous position and shows it
  e.api.Select(2);
  e.api.shown.Name.SetWide(u"renamed");
  ASSERT_TRUE(e.api.Update());
  EXPECT_EQ(e.api.Labels()[2], u"3. renamed");
  ASSERT_TRUE(e.api.Delete());
  EXPECT_EQ(e.api.Profiles().Selected(), 1);
  EXPECT_EQ(e.api.shown.Name.Wide(), u"JaneStyle");
  e.api.Select(0);
  ASSERT_TRUE(e.api.Delete());
  EXPECT_EQ(e.api.Profiles().Selected(), 0) << "the first when there is no previous";

  // rules: moves stop at the ends; the text is cut to 47; an unoffered mode stays
  e.autoRules.Select(0);
  EXPECT_EQ(e.autoRules.shownRule, u"#carpenter");
  EXPECT_FALSE(e.autoRules.MoveUp());
  ASSERT_TRUE(e.autoRules.MoveDown());
  EXPECT_FALSE(e.autoRules.MoveDown());
  EXPECT_EQ(e.autoRules.Rules().Items()[1].rule, u"#carpenter");
  e.autoRules.shownRule = std::u16string(60, u'x');
  e.autoRules.shownMode = -1;
  ASSERT_TRUE(e.autoRules.Update());
  EXPECT_EQ(e.autoRules.Rules().Items()[1].rule.size(), kAutoRuleTextMax);
  EXPECT_EQ(e.autoRules.Rules().Items()[1].mode, 0);

  // pattern sets: reset brings the built-in sets back, the first shown
  const std::u16string firstBuiltIn = e.patternSets.shown.label;
  e.patternSets.shown.label = u"mine";
  ASSERT_TRUE(e.patternSets.Update());
  EXPECT_EQ(e.patternSets.Labels()[0], u"1. mine");
  e.patternSets.Reset();
  EXPECT_EQ(e.patternSets.shown.label, firstBuiltIn);
  EXPECT_EQ(e.patternSets.Sets().Selected(), 0);
}

TEST(SettingsEditor, EngineStateOnTheBregexpPage) {
  CSetting setting;
  SettingsEditor missing(setting);
  EXPECT_FALSE(missing.patternSets.ModeEnabled());
  EXPECT_EQ(missing.patternSets.EngineText(), u"bregexp.dllの読み込みに失敗しました.");
  const CBregOnig engine(true);
  SettingsEditor loaded(setting, SettingsServices{&engine, nullptr});
  EXPECT_TRUE(loaded.patternSets.ModeEnabled());
  EXPECT_EQ(loaded.patternSets.EngineText(), Utf8ToUtf16(engine.BRegexpVersion(0)));
}

}  // namespace
}  // namespace tav
