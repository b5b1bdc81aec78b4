#include "ErrorMessages.h"

#include "MessageBoxes.h"

#include <QDir>

namespace ErrorMessages {

QString unencodable(const QStringList& fieldNames) {
    QStringList quoted;
    for (const QString& name : fieldNames)
        quoted.append(QStringLiteral("「%1」").arg(name));
    return QStringLiteral("%1に保存できない文字が含まれています。\n"
                          "その文字を消すか別の文字に置き換えてから、もう一度押してください。")
        .arg(quoted.join(QStringLiteral("と")));
}

QString notWritten(const QString& what, const QString& path) {
    return QStringLiteral("%1を保存できませんでした。\n%2 に書き込めません。\n"
                          "フォルダーに書き込めるか、ディスクに空きがあるかを確かめてください。")
        .arg(what, QDir::toNativeSeparators(path));
}

QString choiceNotRecorded(const QString& path) {
    return QStringLiteral("IDとパスワードを「保存しない」という選択を記録できませんでした。\n"
                          "%1 に書き込めません。\n"
                          "フォルダーに書き込めるか、ディスクに空きがあるかを確かめてください。")
        .arg(QDir::toNativeSeparators(path));
}

QString dataFolderMissing(const QString& what, const QString& folder) {
    return QStringLiteral("%1を保存できませんでした。\nデータフォルダー %2 がありません。\n"
                          "このフォルダーを作ってから、もう一度保存してください。")
        .arg(what, QDir::toNativeSeparators(folder));
}

void show(MessageBoxes& boxes, const QString& text) {
    boxes.tell(text, MessageBoxes::Icon::Critical, QStringLiteral("エラー"));
}

} // namespace ErrorMessages
