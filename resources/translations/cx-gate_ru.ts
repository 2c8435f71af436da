<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>AppUpdater</name>
    <message>
        <source>%1 Update</source>
        <translation>Обновление %1</translation>
    </message>
    <message>
        <source>AppImage is corrupted - zsync_curl is missing.
Aboriting update</source>
        <translation>Образ AppImage повреждён: нет zsync_curl.
Обновление прервано</translation>
    </message>
    <message>
        <source>AppImage is corrupted - updater script is missing.
Aboriting update</source>
        <translation>Образ AppImage повреждён: нет сценария обновления.
Обновление прервано</translation>
    </message>
    <message>
        <source>AppImage is corrupted - root directory variable is not set.
Aboriting update</source>
        <translation>Образ AppImage повреждён: не задан корневой каталог.
Обновление прервано</translation>
    </message>
    <message>
        <source>appupdateimage process failed to start</source>
        <translation>Не удалось запустить процесс appupdateimage</translation>
    </message>
    <message>
        <source>Update progress</source>
        <translation>Ход обновления</translation>
    </message>
    <message>
        <source>Application has been updated and will now be closed.</source>
        <translation>Приложение обновлено и сейчас будет закрыто.</translation>
    </message>
    <message>
        <source>Error: </source>
        <translation>Ошибка: </translation>
    </message>
</context>
<context>
    <name>CxgatewRunner</name>
    <message>
        <source>Cannot write to %1</source>
        <translation>Не удалось записать %1</translation>
    </message>
    <message>
        <source>Cannot read %1</source>
        <translation>Не удалось прочитать %1</translation>
    </message>
    <message>
        <source>Cannot restore config from %1</source>
        <translation>Не удалось восстановить конфигурацию из %1</translation>
    </message>
    <message>
        <source>Cannot restore config - wrong version</source>
        <translation>Не удалось восстановить конфигурацию: неподходящая версия</translation>
    </message>
    <message>
        <source>Cannot restore settings from %1 - invalid data</source>
        <translation>Не удалось восстановить настройки из %1: неверные данные</translation>
    </message>
    <message>
        <source>Cannot restore credentials from %1 - invalid data</source>
        <translation>Не удалось восстановить учётные данные из %1: неверные данные</translation>
    </message>
    <message>
        <source>Cannot rename %1: no such thing</source>
        <translation>Не удалось переименовать %1: такого устройства нет</translation>
    </message>
    <message>
        <source>Cannot rename to %1 - duplicate alias</source>
        <translation>Не удалось переименовать в %1: такое имя уже есть</translation>
    </message>
    <message>
        <source>Busy with another request</source>
        <translation>Выполняется другой запрос</translation>
    </message>
    <message>
        <source>No new devices to register</source>
        <translation>Нет новых устройств для регистрации</translation>
    </message>
    <message>
        <source>Cannot establish a connection to the registrar service</source>
        <translation>Не удалось подключиться к службе регистрации</translation>
    </message>
    <message>
        <source>Reply processing error</source>
        <translation>Ошибка обработки ответа</translation>
    </message>
    <message>
        <source>Connection to the registrar service was closed unexpectedly.</source>
        <translation>Соединение со службой регистрации неожиданно закрыто.</translation>
    </message>
</context>
<context>
    <name>QAbstractHidDevice</name>
    <message>
        <source>Device communication error: %1</source>
        <translation>Ошибка связи с устройством: %1</translation>
    </message>
</context>
<context>
    <name>StartupOptions</name>
    <message>
        <source>Tessel Cloud Gateway Application</source>
        <translation>Облачный шлюз Tessel</translation>
    </message>
    <message>
        <source>Force the application to use the dark theme.</source>
        <translation>Принудительно использовать тёмную тему.</translation>
    </message>
    <message>
        <source>Reset all settings.</source>
        <translation>Сбросить все настройки.</translation>
    </message>
    <message>
        <source>Set langugage to &lt;lang&gt;.</source>
        <translation>Установить язык &lt;lang&gt;.</translation>
    </message>
</context>
<context>
    <name>ThingsStateTableModel</name>
    <message>
        <source>No</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Да</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Тип</translation>
    </message>
    <message>
        <source>Serial</source>
        <translation>Серийный номер</translation>
    </message>
    <message>
        <source>Alias</source>
        <translation>Имя</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Состояние</translation>
    </message>
    <message>
        <source>Reg. ID</source>
        <translation>Рег. ID</translation>
    </message>
</context>
</TS>
