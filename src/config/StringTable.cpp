#include "config/StringTable.h"

#include <map>

namespace tav {
namespace {

const std::map<int, std::u16string>& Table() {
  static const std::map<int, std::u16string> table = {
      {1, u"動作中..."},
      {3, u".iniファイルの読み込みに失敗しました。\n初回起動時なら設定をしてください。"},
      {10, u"WSASocket() に失敗しました。"},
      {11, u""},
      {12, u"待ち受け用ポートがすでに使用中です。"},
      {13, u"listen() に失敗しました。"},
      {14, u"WSAAsyncSelect() に失敗しました。"},
      {15, u"accept() に失敗しました。"},
      {32768, u"失敗"},
      {32769, u"プロキシエラー"},
      {32770, u"プロキシ接続エラー"},
      {32771, u"接続タイムアウト"},
      {32772, u"受信タイムアウト"},
      {32773, u"socket() 失敗"},
      {32774, u"gethostbyname() 失敗"},
      {32775, u"connect() 失敗"},
      {33027, u"タイムアウトエラー"},
      {33028, u"人大杉"},
      {33029, u"未更新"},
      {33031, u"取得失敗"},
      {33032, u"APIキーが設定されていません"},
      {33033, u"JaneStyleの設定がされていません"},
      {33034, u"JaneStyleの補足に失敗しました"},
      {33035, u"恐らくAPIキーが間違っています。(%s)"},
      {33036, u"直接モードは廃止されました。APIモードに変更します。"},
      {33037, u"SendHttpRequest失敗"},
      {33038, u"JaneStyle小ウィンドウの補足に失敗しました"},
      {33039, u"gzip error"},
      {33040, u"メモリの確保に失敗しました"},
      {33041, u"SID期限切れ"},
  };
  return table;
}

}  // namespace

std::u16string LoadString(int id) {
  auto it = Table().find(id);
  return it == Table().end() ? std::u16string{} : it->second;
}

bool HasString(int id) { return Table().count(id) != 0; }

}  // namespace tav
