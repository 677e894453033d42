"""ReportError as a user sees it: the box speaks the language of the user's locale, under the
product title of that language, with the error icon and one OK button, and never shows the
other language's text."""

TITLE_RUSSIAN = 'Обновление программы "Кестрейн"'
TITLE_ENGLISH = 'Kestrane update'
ENGLISH = 'No access to system registry'
RUSSIAN = 'Нет доступа к системному реестру'


def _report(env, locale, english=ENGLISH, russian=RUSSIAN):
    args = [english.encode('cp1251').hex(), russian.encode('cp1251').hex()]
    return env.run(env.program('report_probe'), args, locale=locale, answers=['ok'],
                   output=True).check()


def test_error_box_language_follows_the_locale(env):
    rows = [
        # locale,        user locale id, Russian?
        ('bg_BG.UTF-8', 0x402, True),
        ('ru_RU.UTF-8', 0x419, True),
        ('uk_UA.UTF-8', 0x422, True),
        ('be_BY.UTF-8', 0x423, True),
        ('kk_KZ.UTF-8', 0x43F, True),
        ('tt_RU.UTF-8', 0x444, True),
        ('ru_MD.UTF-8', 0x819, True),
        ('en_US.UTF-8', 0x409, False),
        ('ro_RO.UTF-8', 0x418, False),
        ('de_DE.UTF-8', 0x407, False),
    ]
    for locale, lcid, russian in rows:
        r = _report(env, locale)
        # The robot runs in the same locale as the program; a wrong id means the row tests
        # nothing.
        assert r.lcid == lcid, f'{locale}: Wine gave locale {r.lcid:#x}, not {lcid:#x}'
        caption, text, other = ((TITLE_RUSSIAN, RUSSIAN, ENGLISH) if russian
                                else (TITLE_ENGLISH, ENGLISH, RUSSIAN))
        [box] = r.boxes
        assert f'russian_ui={int(russian)}' in r.output, f'{locale}: {r.output!r}'
        # Read as the user sees it, whatever the ANSI code page (Wine 8 gives Kazakh UTF-8
        # where Windows gives 1251).
        assert box.unicode_caption == caption, f'{locale}: {box!r}'
        assert box.unicode_text == text, f'{locale}: {box!r}'
        assert other not in box.unicode_text, f'{locale}: {box!r}'


def test_error_box_has_the_error_icon_and_one_ok_button(env):
    for locale in ('ru_RU.UTF-8', 'en_US.UTF-8'):
        [box] = _report(env, locale).boxes
        assert box.icon == 'error', f'{locale}: icon {box.icon}'
        assert box.button_ids == [1], f'{locale}: buttons {box.buttons}'


def test_error_box_shows_texts_exactly(env):
    rows = [
        # English, Russian: line breaks, quotes and a path pass through unchanged
        ('Line one\r\nLine two', 'Строка один\r\nСтрока два'),
        ('Cannot write "C:\\Games\\Kestrane\\kvx.cok"',
         'Не удалось записать "C:\\Games\\Kestrane\\kvx.cok"'),
        ('Hedgehog: 100%', 'Ёжик: 100% — «ёлка»'),
    ]
    for english, russian in rows:
        for locale, expected in (('en_US.UTF-8', english), ('ru_RU.UTF-8', russian)):
            [box] = _report(env, locale, english, russian).boxes
            assert box.unicode_text == expected, f'{locale}: {box!r} instead of {expected!r}'
