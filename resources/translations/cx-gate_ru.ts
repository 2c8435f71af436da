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
    <name>CalvexCloudClient</name>
    <message>
        <source>unknown</source>
        <translation>неизвестная ошибка</translation>
    </message>
    <message>
        <source>connection refused</source>
        <translation>соединение отклонено</translation>
    </message>
    <message>
        <source>connection closed by remote host</source>
        <translation>соединение закрыто удалённым узлом</translation>
    </message>
    <message>
        <source>host not found</source>
        <translation>узел не найден</translation>
    </message>
    <message>
        <source>access error</source>
        <translation>ошибка доступа</translation>
    </message>
    <message>
        <source>resource error</source>
        <translation>нехватка ресурсов</translation>
    </message>
    <message>
        <source>timeout</source>
        <translation>время ожидания истекло</translation>
    </message>
    <message>
        <source>packet too big</source>
        <translation>слишком большой пакет</translation>
    </message>
    <message>
        <source>network error</source>
        <translation>ошибка сети</translation>
    </message>
    <message>
        <source>address in use</source>
        <translation>адрес уже используется</translation>
    </message>
    <message>
        <source>address is not available</source>
        <translation>адрес недоступен</translation>
    </message>
    <message>
        <source>socket operation is not supported</source>
        <translation>операция с сокетом не поддерживается</translation>
    </message>
    <message>
        <source>unfinished socket operation</source>
        <translation>незавершённая операция с сокетом</translation>
    </message>
    <message>
        <source>authentication required</source>
        <translation>требуется аутентификация</translation>
    </message>
    <message>
        <source>handshake failed</source>
        <translation>ошибка согласования TLS</translation>
    </message>
    <message>
        <source>proxy connection closed</source>
        <translation>прокси закрыл соединение</translation>
    </message>
    <message>
        <source>proxy connection timeout</source>
        <translation>время ожидания прокси истекло</translation>
    </message>
    <message>
        <source>proxy not found</source>
        <translation>прокси не найден</translation>
    </message>
    <message>
        <source>proxy protocol error</source>
        <translation>ошибка протокола прокси</translation>
    </message>
    <message>
        <source>socket operation error</source>
        <translation>ошибка операции с сокетом</translation>
    </message>
    <message>
        <source>ssl error</source>
        <translation>ошибка SSL</translation>
    </message>
    <message>
        <source>invalid user data</source>
        <translation>неверные данные пользователя</translation>
    </message>
    <message>
        <source>temporary error</source>
        <translation>временная ошибка</translation>
    </message>
    <message>
        <source>unacceptable protocol version</source>
        <translation>неприемлемая версия протокола</translation>
    </message>
    <message>
        <source>identifier rejected</source>
        <translation>идентификатор отклонён</translation>
    </message>
    <message>
        <source>server unavailable</source>
        <translation>сервер недоступен</translation>
    </message>
    <message>
        <source>bad user name or password</source>
        <translation>неверное имя пользователя или пароль</translation>
    </message>
    <message>
        <source>not authorized</source>
        <translation>нет прав на подключение</translation>
    </message>
    <message>
        <source>clientid cannot be empty</source>
        <translation>идентификатор клиента не может быть пустым</translation>
    </message>
    <message>
        <source>Key is invalid</source>
        <translation>Ключ недействителен</translation>
    </message>
    <message>
        <source>Invalid certificate file</source>
        <translation>Недействительный файл сертификата</translation>
    </message>
    <message>
        <source>Cannot save the key to disk</source>
        <translation>Не удаётся сохранить ключ на диск</translation>
    </message>
    <message>
        <source>Cannot save the certificate to disk</source>
        <translation>Не удаётся сохранить сертификат на диск</translation>
    </message>
</context>
<context>
    <name>CloudPage</name>
    <message>
        <source>Ready</source>
        <translation>Готов</translation>
    </message>
    <message>
        <source>Not registered</source>
        <translation>Не зарегистрирован</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>В порядке</translation>
    </message>
    <message>
        <source>Corrupt</source>
        <translation>Повреждён</translation>
    </message>
    <message>
        <source>Cryptographic error</source>
        <translation>Ошибка криптографии</translation>
    </message>
    <message>
        <source>Missing</source>
        <translation>Отсутствует</translation>
    </message>
    <message>
        <source>Gateway Registration</source>
        <translation>Регистрация шлюза</translation>
    </message>
    <message>
        <source>The gateway registration will be voided. All the devices, gateway included, will need to be reregistered. Proceed?</source>
        <translation>Регистрация шлюза будет аннулирована. Все устройства, включая шлюз, придётся зарегистрировать заново. Продолжить?</translation>
    </message>
</context>
<context>
    <name>CloudStatusIndicator</name>
    <message>
        <source>Cloud connection is not configured</source>
        <translation>Подключение к облаку не настроено</translation>
    </message>
    <message>
        <source>Connected to the cloud</source>
        <translation>Подключено к облаку</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Подключено</translation>
    </message>
    <message>
        <source>Disconnected from the cloud</source>
        <translation>Отключено от облака</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>Отключено</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 с</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 мин</translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation>%1 ч</translation>
    </message>
    <message>
        <source>%1 d</source>
        <translation>%1 дн</translation>
    </message>
    <message>
        <source>Reports waiting for the cloud: %1, the oldest for %2</source>
        <translation>Отчётов ждут отправки в облако: %1, самый старый ждёт %2</translation>
    </message>
    <message>
        <source>dropped: %1</source>
        <translation>удалено: %1</translation>
    </message>
    <message>
        <source>kept in memory only: they are lost if the program ends</source>
        <translation>хранятся только в памяти: они пропадут, если программа завершится</translation>
    </message>
</context>
<context>
    <name>CloudTrust</name>
    <message>
        <source>Key is missing / invalid</source>
        <translation>Ключ отсутствует или недействителен</translation>
    </message>
    <message>
        <source>Certificate is missing / invalid</source>
        <translation>Сертификат отсутствует или недействителен</translation>
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
        <source>Reply processing error</source>
        <translation>Ошибка обработки ответа</translation>
    </message>
    <message>
        <source>Cannot restore settings from %1 - the settings file cannot be written</source>
        <translation>Невозможно восстановить настройки из %1 - файл настроек недоступен для записи</translation>
    </message>
</context>
<context>
    <name>DashboardHistory</name>
    <message>
        <source>Export history…</source>
        <translation>Экспорт истории…</translation>
    </message>
</context>
<context>
    <name>DeviceConfigPage</name>
    <message>
        <source>Enabled</source>
        <translation>Включено</translation>
    </message>
    <message>
        <source>%1 enabled</source>
        <translation>%1 включён</translation>
    </message>
</context>
<context>
    <name>HistoryExportDialog</name>
    <message>
        <source>Export history</source>
        <translation>Экспорт истории</translation>
    </message>
    <message>
        <source>Last hour</source>
        <translation>Последний час</translation>
    </message>
    <message>
        <source>Last 24 hours</source>
        <translation>Последние 24 часа</translation>
    </message>
    <message>
        <source>Last 7 days</source>
        <translation>Последние 7 дней</translation>
    </message>
    <message>
        <source>Last 30 days</source>
        <translation>Последние 30 дней</translation>
    </message>
    <message>
        <source>Custom</source>
        <translation>Свой интервал</translation>
    </message>
    <message>
        <source>&amp;Device:</source>
        <translation>&amp;Устройство:</translation>
    </message>
    <message>
        <source>&amp;Range:</source>
        <translation>&amp;Период:</translation>
    </message>
    <message>
        <source>&amp;From:</source>
        <translation>&amp;С:</translation>
    </message>
    <message>
        <source>&amp;Until:</source>
        <translation>&amp;По:</translation>
    </message>
    <message>
        <source>Export…</source>
        <translation>Экспорт…</translation>
    </message>
    <message>
        <source>CSV files (*.csv);;All files (*)</source>
        <translation>Файлы CSV (*.csv);;Все файлы (*)</translation>
    </message>
    <message>
        <source>The file %1 cannot be written: %2</source>
        <translation>Не удаётся записать файл %1: %2</translation>
    </message>
    <message>
        <source>Exporting the history of %1…</source>
        <translation>Экспорт истории %1…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>There is no history yet.</source>
        <translation>История пока пуста.</translation>
    </message>
    <message>
        <source>The history could not be exported: %1</source>
        <translation>Не удалось экспортировать историю: %1</translation>
    </message>
    <message>
        <source>Save the history as</source>
        <translation>Сохранить историю как</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Reports kept while the cloud is out of reach; when the outbox is full, the oldest report is dropped</source>
        <translation>Отчёты, которые ждут связи с облаком; когда очередь полна, самый старый отчёт удаляется</translation>
    </message>
    <message>
        <source>Outbox:</source>
        <translation>Очередь отправки:</translation>
    </message>
    <message>
        <source> reports</source>
        <translation> отчётов</translation>
    </message>
    <message>
        <source> MB</source>
        <translation> МБ</translation>
    </message>
    <message>
        <source>Tessel Gateway</source>
        <translation>Tessel Gateway</translation>
    </message>
    <message>
        <source>System Settings:</source>
        <translation>Системные настройки:</translation>
    </message>
    <message>
        <source>Language:</source>
        <translation>Язык:</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Английский</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>Русский</translation>
    </message>
    <message>
        <source>Dark theme</source>
        <translation>Тёмная тема</translation>
    </message>
    <message>
        <source>Autostart</source>
        <translation>Автозапуск</translation>
    </message>
    <message>
        <source>Close to tray</source>
        <translation>Сворачивать в трей</translation>
    </message>
    <message>
        <source>Start hidden</source>
        <translation>Запускать свёрнутым</translation>
    </message>
    <message>
        <source>Auto rescan:</source>
        <translation>Автопоиск:</translation>
    </message>
    <message>
        <source>Cloud Connection (*):</source>
        <translation>Подключение к облаку (*):</translation>
    </message>
    <message>
        <source>Report interval:</source>
        <translation>Интервал отчётов:</translation>
    </message>
    <message>
        <source>3 min</source>
        <translation>3 мин</translation>
    </message>
    <message>
        <source>5 min</source>
        <translation>5 мин</translation>
    </message>
    <message>
        <source>10 min</source>
        <translation>10 мин</translation>
    </message>
    <message>
        <source>15 min</source>
        <translation>15 мин</translation>
    </message>
    <message>
        <source>20 min</source>
        <translation>20 мин</translation>
    </message>
    <message>
        <source>30 min</source>
        <translation>30 мин</translation>
    </message>
    <message>
        <source>1 hour</source>
        <translation>1 час</translation>
    </message>
    <message>
        <source>2 hours</source>
        <translation>2 часа</translation>
    </message>
    <message>
        <source>3 hours</source>
        <translation>3 часа</translation>
    </message>
    <message>
        <source>5 hours</source>
        <translation>5 часов</translation>
    </message>
    <message>
        <source>12 hours</source>
        <translation>12 часов</translation>
    </message>
    <message>
        <source>1 day</source>
        <translation>1 день</translation>
    </message>
    <message>
        <source>Keep alive:</source>
        <translation>Поддержание связи:</translation>
    </message>
    <message>
        <source>Host/Port:</source>
        <translation>Хост/порт:</translation>
    </message>
    <message>
        <source>&lt;span style="color:#cc0000;"&gt;* Cloud connectivity changes won't take effect until you relaunch the application&lt;/span&gt;</source>
        <translation>&lt;span style="color:#cc0000;"&gt;* Изменения подключения к облаку вступят в силу после перезапуска приложения&lt;/span&gt;</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Экспорт</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>Импорт</translation>
    </message>
    <message>
        <source>Revert</source>
        <translation>Отменить</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Применить</translation>
    </message>
    <message>
        <source>Device types:</source>
        <translation>Типы устройств:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>Состояние:</translation>
    </message>
    <message>
        <source>Connection:</source>
        <translation>Подключение:</translation>
    </message>
    <message>
        <source>---</source>
        <translation>---</translation>
    </message>
    <message>
        <source>Gateway:</source>
        <translation>Шлюз:</translation>
    </message>
    <message>
        <source>Not registered</source>
        <translation>Не зарегистрирован</translation>
    </message>
    <message>
        <source>Serial Number:</source>
        <translation>Серийный номер:</translation>
    </message>
    <message>
        <source>Certificate:</source>
        <translation>Сертификат:</translation>
    </message>
    <message>
        <source>Missing</source>
        <translation>Отсутствует</translation>
    </message>
    <message>
        <source>Key:</source>
        <translation>Ключ:</translation>
    </message>
    <message>
        <source>Reset Registration</source>
        <translation>Сбросить регистрацию</translation>
    </message>
    <message>
        <source>Registration:</source>
        <translation>Регистрация:</translation>
    </message>
    <message>
        <source>Querying...</source>
        <translation>Запрос...</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Начать</translation>
    </message>
    <message>
        <source>If all things have names, registration process will begin right away. Please be ready to fill in the code from the next window into the corresponding field in the Tessel Cloud.</source>
        <translation>Если у всех устройств есть имена, регистрация начнётся сразу. Будьте готовы ввести код из следующего окна в соответствующее поле в Tessel Cloud.</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <translation>Подключение...</translation>
    </message>
    <message>
        <source>Copy to Clipboard</source>
        <translation>Копировать в буфер обмена</translation>
    </message>
    <message>
        <source>Open in browser</source>
        <translation>Открыть в браузере</translation>
    </message>
    <message>
        <source>Expires in:</source>
        <translation>Истекает через:</translation>
    </message>
    <message>
        <source>New Session</source>
        <translation>Новый сеанс</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Файл</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Справка</translation>
    </message>
    <message>
        <source>Navigation</source>
        <translation>Навигация</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>About</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>Check for Updates</source>
        <translation>Проверить обновления</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Состояние</translation>
    </message>
    <message>
        <source>Devices Dashboard</source>
        <translation>Панель устройств</translation>
    </message>
    <message>
        <source>Cloud</source>
        <translation>Облако</translation>
    </message>
    <message>
        <source>Tessel cloud connection setup</source>
        <translation>Настройка подключения к облаку Tessel</translation>
    </message>
    <message>
        <source>Rescan</source>
        <translation>Поиск</translation>
    </message>
    <message>
        <source>Search for connected devices</source>
        <translation>Найти подключённые устройства</translation>
    </message>
    <message>
        <source>Types</source>
        <translation>Типы</translation>
    </message>
    <message>
        <source>Configure known device types</source>
        <translation>Настройка известных типов устройств</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Registry</source>
        <translation>Реестр</translation>
    </message>
    <message>
        <source>List known devices</source>
        <translation>Список известных устройств</translation>
    </message>
    <message>
        <source>Loading plugins</source>
        <translation>Загрузка плагинов</translation>
    </message>
    <message>
        <source>Assembling plugins list</source>
        <translation>Составление списка плагинов</translation>
    </message>
    <message>
        <source>Assembling devices list</source>
        <translation>Составление списка устройств</translation>
    </message>
    <message>
        <source>Scanning for devices</source>
        <translation>Поиск устройств</translation>
    </message>
    <message>
        <source>Connecting to the cloud</source>
        <translation>Подключение к облаку</translation>
    </message>
    <message>
        <source>Requesting status</source>
        <translation>Запрос состояния</translation>
    </message>
    <message>
        <source>OpenSSL: not loaded</source>
        <translation>OpenSSL: не загружен</translation>
    </message>
    <message>
        <source>Tessel Cloud Gateway Software.</source>
        <translation>Программа облачного шлюза Tessel.</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Версия</translation>
    </message>
    <message>
        <source>Developed by</source>
        <translation>Разработчик</translation>
    </message>
    <message>
        <source>Tessel, %1</source>
        <translation>Tessel, %1</translation>
    </message>
    <message>
        <source>Tessel Cloud</source>
        <translation>Tessel Cloud</translation>
    </message>
    <message>
        <source>Support</source>
        <translation>Поддержка</translation>
    </message>
    <message>
        <source>Uses:</source>
        <translation>Использует:</translation>
    </message>
    <message>
        <source>BSD-style license</source>
        <translation>лицензия в стиле BSD</translation>
    </message>
    <message>
        <source>EPL / EDL licenses</source>
        <translation>лицензии EPL / EDL</translation>
    </message>
    <message>
        <source>details</source>
        <translation>подробнее</translation>
    </message>
    <message>
        <source>Apache v2.0 License</source>
        <translation>лицензия Apache v2.0</translation>
    </message>
    <message>
        <source>TSL-Gate</source>
        <translation>TSL-Gate</translation>
    </message>
    <message>
        <source>Registration code</source>
        <translation>Код регистрации</translation>
    </message>
    <message>
        <source>Seconds until the code expires</source>
        <translation>Секунд до истечения срока действия кода</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Устройства</translation>
    </message>
    <message>
        <source>Rescan interval</source>
        <translation>Интервал автопоиска</translation>
    </message>
    <message>
        <source> min</source>
        <translation> мин</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Порт</translation>
    </message>
    <message>
        <source>Outbox size</source>
        <translation>Размер очереди отправки</translation>
    </message>
    <message>
        <source>Revert device types</source>
        <translation>Отменить изменения типов устройств</translation>
    </message>
    <message>
        <source>Apply device types</source>
        <translation>Применить типы устройств</translation>
    </message>
    <message>
        <source>Registration result</source>
        <translation>Результат регистрации</translation>
    </message>
    <message>
        <source>Device type settings</source>
        <translation>Настройки типов устройств</translation>
    </message>
    <message>
        <source>State reports sent ahead of their acknowledgements</source>
        <translation>Отчёты о состоянии, отправляемые до получения подтверждений</translation>
    </message>
    <message>
        <source>Reports in flight:</source>
        <translation>Отчётов в пути:</translation>
    </message>
    <message>
        <source>Reports in flight</source>
        <translation>Отчётов в пути</translation>
    </message>
    <message>
        <source>History:</source>
        <translation>История:</translation>
    </message>
    <message>
        <source>States older than this are removed from the local history</source>
        <translation>Состояния старше этого срока удаляются из локальной истории</translation>
    </message>
    <message>
        <source>Keep history for:</source>
        <translation>Хранить историю:</translation>
    </message>
    <message>
        <source>Keep history for</source>
        <translation>Хранить историю</translation>
    </message>
    <message>
        <source> days</source>
        <translation> дн.</translation>
    </message>
    <message>
        <source>When the history file reaches this size, the oldest states are removed</source>
        <translation>Когда файл истории достигает этого размера, самые старые состояния удаляются</translation>
    </message>
    <message>
        <source>History file at most:</source>
        <translation>Файл истории не более:</translation>
    </message>
    <message>
        <source>History file at most</source>
        <translation>Файл истории не более</translation>
    </message>
    <message>
        <source>Export history…</source>
        <translation>Экспорт истории…</translation>
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
    <name>RegThingsEditor</name>
    <message>
        <source>Forget Selected</source>
        <translation>Забыть выбранные</translation>
    </message>
    <message>
        <source>Form</source>
        <translation>Форма</translation>
    </message>
    <message>
        <source>Known devices</source>
        <translation>Известные устройства</translation>
    </message>
</context>
<context>
    <name>RegistrarExchange</name>
    <message>
        <source>The registrar reported an error: %1</source>
        <translation>Регистратор сообщил об ошибке: %1</translation>
    </message>
    <message>
        <source>Reply processing error</source>
        <translation>Ошибка обработки ответа</translation>
    </message>
    <message>
        <source>The registrar service did not answer in time</source>
        <translation>Служба регистрации не ответила вовремя</translation>
    </message>
    <message>
        <source>Connection to the registrar service was closed unexpectedly.</source>
        <translation>Соединение со службой регистрации неожиданно закрыто.</translation>
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
</context>
<context>
    <name>RegistrationWizard</name>
    <message>
        <source>Querying...</source>
        <translation>Запрос...</translation>
    </message>
    <message>
        <source>Step 2. Connecting to the cloud</source>
        <translation>Шаг 2. Подключение к облаку</translation>
    </message>
    <message>
        <source>Step 3. Enter the code in the cloud</source>
        <translation>Шаг 3. Введите код в облаке</translation>
    </message>
    <message>
        <source>Step 4. Finish</source>
        <translation>Шаг 4. Завершение</translation>
    </message>
    <message>
        <source>Your registration process is complete</source>
        <translation>Регистрация завершена</translation>
    </message>
    <message>
        <source>Step 1. Fill in the thing names</source>
        <translation>Шаг 1. Укажите имена устройств</translation>
    </message>
    <message>
        <source>Please fill the alias for&lt;br&gt;&lt;b&gt;%1 / %2&lt;/b&gt;&lt;br&gt;Note: the alias must be unique among all the devices registered to your account.</source>
        <translation>Укажите имя для&lt;br&gt;&lt;b&gt;%1 / %2&lt;/b&gt;&lt;br&gt;Примечание: имя должно быть уникальным среди всех устройств, зарегистрированных в вашей учётной записи.</translation>
    </message>
    <message>
        <source>Thing Name</source>
        <translation>Имя устройства</translation>
    </message>
    <message>
        <source>Code copied to clipboard</source>
        <translation>Код скопирован в буфер обмена</translation>
    </message>
    <message>
        <source>%1 (gateway): %2</source>
        <translation>%1 (шлюз): %2</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Registation has completed with an error.</source>
        <translation>Регистрация завершилась с ошибкой.</translation>
    </message>
    <message>
        <source>Registration Error</source>
        <translation>Ошибка регистрации</translation>
    </message>
</context>
<context>
    <name>SettingsPage</name>
    <message>
        <source>Language</source>
        <translation>Язык</translation>
    </message>
    <message>
        <source>Language will be changed when the application is relaunched</source>
        <translation>Язык изменится после перезапуска приложения</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>Тема</translation>
    </message>
    <message>
        <source>Application theme will be changed when the application is relaunched</source>
        <translation>Тема приложения изменится после перезапуска приложения</translation>
    </message>
    <message>
        <source>Load Backup</source>
        <translation>Загрузить резервную копию</translation>
    </message>
    <message>
        <source>Backup files (*.bak)</source>
        <translation>Резервные копии (*.bak)</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>Импорт</translation>
    </message>
    <message>
        <source>Configuration has been restored from a backup. Restart the application as soon as possible.</source>
        <translation>Конфигурация восстановлена из резервной копии. Перезапустите приложение как можно скорее.</translation>
    </message>
    <message>
        <source>Configuration could not be restored.</source>
        <translation>Не удалось восстановить конфигурацию.</translation>
    </message>
    <message>
        <source>Save As</source>
        <translation>Сохранить как</translation>
    </message>
    <message>
        <source>Configuration saved</source>
        <translation>Конфигурация сохранена</translation>
    </message>
    <message>
        <source>Backup</source>
        <translation>Резервная копия</translation>
    </message>
    <message>
        <source>The configuration backup file has been generated. It contains sensitive information, so keep it safe!</source>
        <translation>Файл резервной копии конфигурации создан. Он содержит конфиденциальные данные, храните его в надёжном месте!</translation>
    </message>
    <message>
        <source>Backup could not be saved</source>
        <translation>Не удалось сохранить резервную копию</translation>
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
    <name>ThingsRegTableModel</name>
    <message>
        <source>Type</source>
        <translation>Тип</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Версия</translation>
    </message>
    <message>
        <source>Serial</source>
        <translation>Серийный номер</translation>
    </message>
    <message>
        <source>Alias</source>
        <translation>Имя</translation>
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
<context>
    <name>TrayController</name>
    <message>
        <source>TSL-Gate v</source>
        <translation>TSL-Gate v</translation>
    </message>
    <message>
        <source>Show/Hide</source>
        <translation>Показать/скрыть</translation>
    </message>
    <message>
        <source>About</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
</context>
<context>
    <name>TrendPane</name>
    <message>
        <source>1 hour</source>
        <translation>1 час</translation>
    </message>
    <message>
        <source>24 hours</source>
        <translation>24 часа</translation>
    </message>
    <message>
        <source>7 days</source>
        <translation>7 дней</translation>
    </message>
    <message>
        <source>30 days</source>
        <translation>30 дней</translation>
    </message>
    <message>
        <source>Trend range</source>
        <translation>Период графика</translation>
    </message>
    <message>
        <source>How far back the chart reaches</source>
        <translation>За какой период показывать график</translation>
    </message>
    <message>
        <source>Export history…</source>
        <translation>Экспорт истории…</translation>
    </message>
    <message>
        <source>Trend chart</source>
        <translation>График</translation>
    </message>
    <message>
        <source>Trend of %1</source>
        <translation>График: %1</translation>
    </message>
    <message>
        <source>Loading…</source>
        <translation>Загрузка…</translation>
    </message>
    <message>
        <source>History cannot be read: %1</source>
        <translation>Не удаётся прочитать историю: %1</translation>
    </message>
    <message>
        <source>No values in this range yet</source>
        <translation>За этот период значений нет</translation>
    </message>
    <message>
        <source>&amp;Range:</source>
        <translation>&amp;Период:</translation>
    </message>
</context>
<context>
    <name>UpdateController</name>
    <message>
        <source>Check for Updates</source>
        <translation>Проверить обновления</translation>
    </message>
    <message>
        <source>No available updates.</source>
        <translation>Нет доступных обновлений.</translation>
    </message>
    <message>
        <source>Could not check for updates: the update feed cannot be reached or read.</source>
        <translation>Не удалось проверить обновления: источник обновлений недоступен или не читается.</translation>
    </message>
    <message>
        <source>You have the latest version.</source>
        <translation>У вас последняя версия.</translation>
    </message>
    <message>
        <source>The latest app version is installed.</source>
        <translation>Установлена последняя версия приложения.</translation>
    </message>
    <message>
        <source>An update to version &lt;b&gt;%1&lt;/b&gt; is availale&lt;br&gt;Update now?&lt;br&gt;You can download the latest version &lt;a href="%2"&gt;here&lt;/a&gt;</source>
        <translation>Доступно обновление до версии &lt;b&gt;%1&lt;/b&gt;&lt;br&gt;Обновить сейчас?&lt;br&gt;Последнюю версию можно скачать &lt;a href="%2"&gt;здесь&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Changelog:</source>
        <translation>Список изменений:</translation>
    </message>
</context>
<context>
    <name>thx9</name>
    <message>
        <source>Temperature Unit</source>
        <translation>Единица температуры</translation>
    </message>
    <message>
        <source>Celsius</source>
        <translation>Цельсий</translation>
    </message>
    <message>
        <source>Fahrenheit</source>
        <translation>Фаренгейт</translation>
    </message>
    <message>
        <source>Kelvin</source>
        <translation>Кельвин</translation>
    </message>
</context>
<context>
    <name>watchdog</name>
    <message>
        <source>Send periodic keep-alive messages to the device</source>
        <translation>Периодически отправлять устройству сигналы активности</translation>
    </message>
    <message>
        <source>Allow to be reset remotely</source>
        <translation>Разрешить удалённый сброс</translation>
    </message>
    <message>
        <source>Allow to be hard reset remotely</source>
        <translation>Разрешить удалённый аппаратный сброс</translation>
    </message>
</context>
</TS>