<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="en">
<context>
    <name>Alert</name>
    <message>
        <source>Error: The board stopped answering. Unplug it, hold its button and plug it in again.</source>
        <translation>エラー: 基板が応答しなくなりました。基板を取り外し、ボタンを押したまま接続し直してください。</translation>
    </message>
    <message>
        <source>Error: Please check your network</source>
        <translation>エラー: ネットワーク接続を確認してください</translation>
    </message>
    <message>
        <source>Error: The firmware file is damaged (line %1)</source>
        <translation>エラー: ファームウェアファイルが壊れています (%1 行目)</translation>
    </message>
    <message>
        <source>Error: The firmware file is too large for this board</source>
        <translation>エラー: ファームウェアファイルがこの基板には大きすぎます</translation>
    </message>
    <message>
        <source>Error: The firmware file holds no firmware data</source>
        <translation>エラー: ファームウェアファイルにファームウェアのデータがありません</translation>
    </message>
    <message>
        <source>Parse txt file error</source>
        <translation>リリース情報ファイルを読み取れませんでした</translation>
    </message>
    <message>
        <source>checkSumStr error</source>
        <translation>リリース情報のチェックサムが正しくありません</translation>
    </message>
    <message>
        <source>The release is not signed by its publisher.</source>
        <translation>このリリースには発行元の署名がありません。</translation>
    </message>
    <message>
        <source>The firmware does not match its release.</source>
        <translation>ファームウェアがリリース情報と一致しません。</translation>
    </message>
    <message>
        <source>No firmware release has been read from the update server</source>
        <translation>更新サーバーからファームウェアのリリース情報をまだ読み取っていません</translation>
    </message>
    <message>
        <source>The firmware file has no valid address on the update server %1</source>
        <translation>ファームウェアファイルのアドレスが更新サーバー %1 上の有効なアドレスではありません</translation>
    </message>
    <message>
        <source>Cannot write the firmware file %1: %2</source>
        <translation>ファームウェアファイル %1 を書き込めません: %2</translation>
    </message>
    <message>
        <source>Cannot start a network transfer</source>
        <translation>ネットワーク転送を開始できません</translation>
    </message>
    <message>
        <source>Cannot set up the network transfer: %1</source>
        <translation>ネットワーク転送を準備できません: %1</translation>
    </message>
    <message>
        <source>The server sent more than %1 bytes</source>
        <translation>サーバーから %1 バイトを超えるデータが送られてきました</translation>
    </message>
    <message>
        <source>The server announced %1 bytes, more than %2</source>
        <translation>サーバーが予告したサイズ (%1 バイト) が上限の %2 バイトを超えています</translation>
    </message>
    <message>
        <source>The server has not answered for %1 s</source>
        <translation>サーバーが %1 秒間応答していません</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Trident Updater</source>
        <translation>Trident アップデーター</translation>
    </message>
    <message>
        <source>Firmware variant</source>
        <translation>ファームウェアの種類</translation>
    </message>
    <message>
        <source>Firmware download</source>
        <translation>ファームウェアのダウンロード</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>更新</translation>
    </message>
</context>
<context>
    <name>trident::ProgrammingProgress</name>
    <message>
        <source>Programming the board: %1 %</source>
        <translation>ボードに書き込み中: %1 %</translation>
    </message>
</context>
<context>
    <name>trident::ViewController</name>
    <message>
        <source>Download Update File From FTP , Please wait</source>
        <translation>サーバーから更新ファイルをダウンロードしています。しばらくお待ちください</translation>
    </message>
    <message>
        <source>Press and hold the button, then connect it to the MAC.</source>
        <translation>ボタンを押したまま、基板を Mac に接続してください。</translation>
    </message>
    <message>
        <source>Press and hold the button, then connect it to the computer.</source>
        <translation>ボタンを押したまま、基板をコンピューターに接続してください。</translation>
    </message>
    <message>
        <source>Click Button to start update</source>
        <translation>ボタンをクリックすると更新を開始します</translation>
    </message>
    <message>
        <source>DO NOT Remove the Controller</source>
        <translation>コントローラーを絶対に取り外さないでください</translation>
    </message>
    <message>
        <source>Firmware successfully updated.</source>
        <translation>ファームウェアの更新が完了しました。</translation>
    </message>
    <message>
        <source>The Setup didn&apos;t finish and will restart.</source>
        <translation>更新が完了しませんでした。もう一度最初からやり直してください。</translation>
    </message>
    <message>
        <source>Something wrong , Can&apos;t Download File From FTP</source>
        <translation>問題が発生しました。サーバーからファイルをダウンロードできません</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>The lastest version: %1</source>
        <translation>最新バージョン: %1</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Downloading: %1 KB</source>
        <translation>ダウンロード中: %1 KB</translation>
    </message>
    <message>
        <source>Downloading: %1 of %2 KB</source>
        <translation>ダウンロード中: %1 / %2 KB</translation>
    </message>
    <message>
        <source>The board is being programmed. If you quit now it keeps its bootloader and needs updating again. Quit anyway?</source>
        <translation>基板に書き込み中です。いま終了すると基板はブートローダーのまま残り、もう一度更新が必要になります。終了しますか？</translation>
    </message>
</context>
<context>
    <name>trident::WindowAccessibility</name>
    <message>
        <source>Firmware variant</source>
        <translation>ファームウェアの種類</translation>
    </message>
    <message>
        <source>The firmware to put on the board</source>
        <translation>ボードに書き込むファームウェア</translation>
    </message>
    <message>
        <source>Board with the button to hold</source>
        <translation>押し続けるボタンのあるボード</translation>
    </message>
    <message>
        <source>Hold the button the arrow points at while you plug in the board&apos;s USB cable.</source>
        <translation>矢印が指すボタンを押したまま、ボードのUSBケーブルを接続してください。</translation>
    </message>
    <message>
        <source>Loading</source>
        <translation>読み込み中</translation>
    </message>
    <message>
        <source>The newest firmware on the update server</source>
        <translation>更新サーバーにある最新のファームウェア</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>How much of the firmware has been downloaded</source>
        <translation>ファームウェアのダウンロードの進み具合</translation>
    </message>
    <message>
        <source>Update complete</source>
        <translation>更新完了</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>更新失敗</translation>
    </message>
</context>
</TS>
