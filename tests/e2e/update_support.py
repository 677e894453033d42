"""What the end-to-end tests of the update run share: the exact texts a user sees, a sample
Kestrane installation in the Wine prefix, and one call that runs the sealed package.

Texts are compared as the user reads them: the wide (Unicode) texts the robot read from each
box, whatever the locale's ANSI code page (the final question is Russian in every interface
language, so the ANSI texts of an English system could not hold it).
"""

import shutil
from pathlib import Path

import harness

# The package under test: the shipped PE32 or the x64 twin (harness.use_target).
PACKAGE = harness.target.package
PAYLOAD = harness.BUILD / 'assets' / 'kvx.cok'
START_SUSPENDED = harness.WIN64 / 'start_suspended.exe'
KEY_DACL = harness.WIN64 / 'key_dacl.exe'

LOCALES = {'ru': 'ru_RU.UTF-8', 'en': 'en_US.UTF-8'}
LANGUAGES = ('ru', 'en')

UNINSTALL_KEY = harness.UNINSTALL_KEY
UNINSTALL_KEY_WOW = harness.UNINSTALL_KEY_WOW
USER_SHELL_FOLDERS = r'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
READ_ONLY_DACL = 'D:P(A;;KR;;;WD)'
FULL_ACCESS_DACL = 'D:P(A;;KA;;;WD)'

HOST_FOLDER = r'C:\Games\Kestrane'
OLD_COK_VERSION = 300

# ---- the texts ----

TITLE = {'ru': 'Обновление программы "Кестрейн"', 'en': 'Kestrane update'}
PACKAGE_CAPTION = '"Звуковые комментарии к выходу из программы" версии 367'

INSTALL_QUESTION = {
    'ru': ('Резонный вопрос',
           'Вы действительно хотите установить\r\n' + TITLE['ru'] + ' -\r\n' + PACKAGE_CAPTION +
           '?'),
    'en': ('Sound question',
           'Would you like to setup\r\n' + TITLE['en'] + ' -\r\n' + PACKAGE_CAPTION + '?'),
}
# Russian in both interface languages, under the English title.
FINISH_QUESTION = (TITLE['en'],
                   'На Ваш компьютер установлено\r\n' + TITLE['ru'] + ' -\r\n' + PACKAGE_CAPTION +
                   '\r\n\r\nЗапустить программу?')

ERRORS = {
    'no_registry': {'en': 'No access to system registry', 'ru': 'Нет доступа к системному реестру'},
    'no_rights': {'en': 'You have no right to install applications!',
                  'ru': 'У Вас нет права устанавливать программы!'},
    'unreadable': {'en': 'Failed to check up the package file!',
                   'ru': 'Не удаётся проверить файл пакета установки!'},
    'distorted': {'en': 'The package file has been distorted!\r\nVirus?',
                  'ru': 'Файл пакета установки искажён!\r\nВирус?'},
    'not_installed': {
        'en': "There's no subject of update - the Kestrane installed.\r\n"
              'Please, install the program at first.',
        'ru': 'Нет предмета обновления - установленной программы "Кестрейн".\r\n'
              'Пожалуйста, сначала установите программу.'},
}


def cant_install(language, target):
    return {'en': "Can't install file ", 'ru': 'Не удается установить файл '}[language] + target


def error_box(kind, language):
    """(caption, text) of a ReportError box of the update run."""
    return TITLE[language], ERRORS[kind][language]


IDYES, IDNO, IDOK = 6, 7, 1


def shown(box):
    """(caption, text) of a box as the user reads them."""
    return box.unicode_caption, box.unicode_text


def assert_boxes(result, expected):
    """Checks the boxes of a run, in order, against (caption, text, button ids, icon)."""
    result.check()
    got = [shown(b) + (sorted(b.button_ids), b.icon) for b in result.boxes]
    assert got == expected, f'boxes differ:\n got  {got}\n want {expected}'


def question(caption_text):
    return caption_text + ([IDYES, IDNO], 'question')


def error(caption_text):
    return caption_text + ([IDOK], 'error')


# ---- the sample installation ----

def cok_bytes(version, size=4096):
    """A small data file of the host in the payload's layout: "kvx", 0, 0x22, then the version
    as 16-bit little-endian at offset 5."""
    head = b'kvx\x00\x22' + version.to_bytes(2, 'little')
    return head + bytes((i * 37) & 0xFF for i in range(size - len(head)))


def cok_version(path):
    """The version a "cok" file carries: 16-bit little-endian at offset 5; None when shorter."""
    with open(path, 'rb') as f:
        head = f.read(7)
    return int.from_bytes(head[5:7], 'little') if len(head) == 7 else None


def folder_size_kib(folder, leave_out=()):
    """The summed size of every file below the folder in KiB, rounded down; files named in
    leave_out (written only after the installer measured) are not counted."""
    return sum(p.stat().st_size for p in Path(folder).rglob('*')
               if p.is_file() and p.name not in leave_out) >> 10


def install_sample(env, folder=HOST_FOLDER, registration='plain', config=None,
                 uninstall_string=None, old_cok=True):
    """The stand-in Kestrane in a folder with its registration and an old kvx.cok. The
    stand-in exits by itself after a minute, so none outlives a test by long."""
    settings = {'lifetime_ms': 60000}
    settings.update(config or {})
    unix = env.install_host(folder, registration=registration, uninstall_string=uninstall_string,
                            config=settings)
    if old_cok:
        (unix / 'kvx.cok').write_bytes(cok_bytes(OLD_COK_VERSION))
    return unix


def payload_installed(folder):
    """True when kvx.cok in the folder holds exactly the package's payload."""
    target = Path(folder) / 'kvx.cok'
    if not target.exists() or target.stat().st_size != PAYLOAD.stat().st_size:
        return False
    with open(target, 'rb') as a, open(PAYLOAD, 'rb') as b:
        while True:
            x, y = a.read(1 << 20), b.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def run_update(env, args=(), language='en', answers=(), exe=PACKAGE, timeout=40.0, **kw):
    """Runs the package (or a copy of it) under the robot in the given interface language."""
    return env.run(exe, args=args, locale=LOCALES[language], answers=answers, timeout=timeout,
                   **kw)


def run_altered(env, change, exe, args=(), language='en', answers=(), timeout=40.0):
    """Runs a package through start_suspended, which makes one change to the process or its
    file before the first instruction (token-unqueryable, image-moved)."""
    return env.run(START_SUSPENDED, args=[change, env.win_path(exe)] + list(args),
                   locale=LOCALES[language], answers=answers, timeout=timeout)


def package_copy(env, name):
    """A private copy of the sealed package under the prefix's temp folder, removed by
    reset(). Returns its Unix path."""
    folder = Path(env.unix_path(r'C:\kestrane-packages'))
    folder.mkdir(parents=True, exist_ok=True)
    env.cleanup_path(folder)
    copy = folder / name
    shutil.copyfile(PACKAGE, copy)
    return copy


def set_key_dacl(env, key, sddl):
    """Sets the access list of a key below HKLM (key given as 'HKLM\\...')."""
    assert key.startswith('HKLM\\')
    r = env.run_console(KEY_DACL, [key[len('HKLM\\'):], sddl])
    if r.exit_code != 0:
        raise harness.HarnessError(f'key_dacl {key} {sddl}: {r.exit_code} {r.stderr}')


def estimated_size(env, key=UNINSTALL_KEY):
    return env.reg_get(key, 'EstimatedSize', with_type=True)


def assert_nothing_changed(env, folder):
    """The old kvx.cok is still there and no size was recorded anywhere."""
    assert cok_version(Path(folder) / 'kvx.cok') == OLD_COK_VERSION, 'kvx.cok was replaced'
    for key in (UNINSTALL_KEY, UNINSTALL_KEY_WOW):
        assert estimated_size(env, key) is None, f'EstimatedSize was written under {key}'


def assert_updated(env, folder, key=UNINSTALL_KEY, host_started_after=False):
    """The payload is installed and the folder's size is recorded under the key. A host
    started after the measurement has added its log to the folder since."""
    assert payload_installed(folder), 'kvx.cok does not hold the payload'
    assert cok_version(Path(folder) / 'kvx.cok') == 367
    leave_out = ('standin.log',) if host_started_after else ()
    assert estimated_size(env, key) == ('REG_DWORD', folder_size_kib(folder, leave_out)), \
        f'EstimatedSize under {key}: {estimated_size(env, key)}'


def host_starts(env, folder, timeout=2.0):
    """True when a stand-in host started in the folder within the timeout."""
    return env.wait_host_event(folder, 'started', timeout=timeout) is not None
