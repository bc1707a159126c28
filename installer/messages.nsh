; What the setup and the uninstaller say, in each language they speak.
; Neither asks: NSIS takes the language of the user's Windows, else one of
; the same family (Hong Kong's Chinese takes the first Chinese loaded, so
; Traditional comes first), else the first loaded, English.
; A LangString without a line for every language stops the build, rather
; than leave a user with an empty message box.
!pragma warning error 6040

!define LANGUAGE_FILES "${NSISDIR}\Contrib\Language files"
LoadLanguageFile "${LANGUAGE_FILES}\English.nlf"
LoadLanguageFile "${LANGUAGE_FILES}\TradChinese.nlf"
LoadLanguageFile "${LANGUAGE_FILES}\SimpChinese.nlf"
LoadLanguageFile "${LANGUAGE_FILES}\Russian.nlf"
LoadLanguageFile "${LANGUAGE_FILES}\German.nlf"
LoadLanguageFile "${LANGUAGE_FILES}\French.nlf"
LoadLanguageFile "${LANGUAGE_FILES}\Spanish.nlf"

!ifdef DEVELOPMENT_BUILD
  LangString DevelopmentTitle ${LANG_ENGLISH} "${PRODUCT} (development build)"
  LangString DevelopmentTitle ${LANG_SIMPCHINESE} "${PRODUCT}（开发版本）"
  LangString DevelopmentTitle ${LANG_TRADCHINESE} "${PRODUCT}（開發版本）"
  LangString DevelopmentTitle ${LANG_RUSSIAN} "${PRODUCT} (отладочная сборка)"
  LangString DevelopmentTitle ${LANG_GERMAN} "${PRODUCT} (Entwicklungsversion)"
  LangString DevelopmentTitle ${LANG_FRENCH} "${PRODUCT} (version de développement)"
  LangString DevelopmentTitle ${LANG_SPANISH} "${PRODUCT} (versión de desarrollo)"
!endif

; $InUse: the file a browser or the host keeps open.
LangString SetupInUse ${LANG_ENGLISH} "$InUse is in use. Close every browser and run the setup again."
LangString SetupInUse ${LANG_SIMPCHINESE} "文件 $InUse 正在使用中。请关闭所有浏览器，然后重新运行安装程序。"
LangString SetupInUse ${LANG_TRADCHINESE} "檔案 $InUse 正在使用中。請關閉所有瀏覽器，然後重新執行安裝程式。"
LangString SetupInUse ${LANG_RUSSIAN} "Файл $InUse используется. Закройте все браузеры и снова запустите программу установки."
LangString SetupInUse ${LANG_GERMAN} "Die Datei $InUse wird gerade verwendet. Schließen Sie alle Browser und starten Sie das Setup erneut."
LangString SetupInUse ${LANG_FRENCH} "Le fichier $InUse est en cours d'utilisation. Fermez tous les navigateurs, puis relancez le programme d'installation."
LangString SetupInUse ${LANG_SPANISH} "El archivo $InUse está en uso. Cierre todos los navegadores y vuelva a ejecutar el programa de instalación."

LangString UninstallerInUse ${LANG_ENGLISH} "$InUse is in use. Close every browser and run the uninstaller again."
LangString UninstallerInUse ${LANG_SIMPCHINESE} "文件 $InUse 正在使用中。请关闭所有浏览器，然后重新运行卸载程序。"
LangString UninstallerInUse ${LANG_TRADCHINESE} "檔案 $InUse 正在使用中。請關閉所有瀏覽器，然後重新執行解除安裝程式。"
LangString UninstallerInUse ${LANG_RUSSIAN} "Файл $InUse используется. Закройте все браузеры и снова запустите программу удаления."
LangString UninstallerInUse ${LANG_GERMAN} "Die Datei $InUse wird gerade verwendet. Schließen Sie alle Browser und starten Sie die Deinstallation erneut."
LangString UninstallerInUse ${LANG_FRENCH} "Le fichier $InUse est en cours d'utilisation. Fermez tous les navigateurs, puis relancez le programme de désinstallation."
LangString UninstallerInUse ${LANG_SPANISH} "El archivo $InUse está en uso. Cierre todos los navegadores y vuelva a ejecutar el desinstalador."
