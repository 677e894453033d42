"""The update run from start to end on the sealed package: its questions in both interface
languages, the quiet mode words, what it writes and the host it starts."""

import harness
from update_support import (FINISH_QUESTION, INSTALL_QUESTION, LANGUAGES, assert_boxes,
                            assert_nothing_changed, assert_updated, host_starts, install_sample,
                            question, run_update)


@harness.smoke
def test_interactive_run_asks_in_the_interface_language_and_finishes_in_russian(env):
    # (interface language, answer to the final question)
    rows = [('ru', 'no'), ('en', 'yes')]
    for language, final_answer in rows:
        env.reset()
        folder = install_sample(env)
        r = run_update(env, language=language, answers=['yes', final_answer])
        assert_boxes(r, [question(INSTALL_QUESTION[language]), question(FINISH_QUESTION)])
        assert r.exit_code == 0, (language, r)
        started = final_answer == 'yes'
        assert_updated(env, folder, host_started_after=started)
        if started:
            # The host is brought to the front once its window shows.
            assert env.wait_host_event(folder, 'foreground', timeout=15) is not None, \
                env.host_log(folder)
        else:
            assert not host_starts(env, folder, timeout=1.0), 'the host was started on "no"'


def test_answering_no_to_the_first_question_changes_nothing(env):
    for language in LANGUAGES:
        env.reset()
        folder = install_sample(env)
        r = run_update(env, language=language, answers=['no'])
        assert_boxes(r, [question(INSTALL_QUESTION[language])])
        assert r.exit_code == 7, (language, r.exit_code)
        assert_nothing_changed(env, folder)


@harness.smoke
def test_modest_runapp_in_capitals_asks_nothing_installs_and_starts_the_host(env):
    folder = install_sample(env)
    r = run_update(env, args=['MODEST', 'RUNAPP'], language='ru')
    assert_boxes(r, [])
    assert r.exit_code == 0
    assert_updated(env, folder, host_started_after=True)
    front = env.wait_host_event(folder, 'foreground', timeout=15)
    assert front is not None, env.host_log(folder)
    assert 'visible=1' in front['detail'], front


def test_modest_alone_asks_nothing_and_does_not_start_the_host(env):
    for args in (['modest'], ['Modest', 'other']):
        env.reset()
        folder = install_sample(env)
        r = run_update(env, args=args)
        assert_boxes(r, [])
        assert r.exit_code == 0, (args, r.exit_code)
        assert_updated(env, folder)
        assert not host_starts(env, folder, timeout=1.0), f'{args} started the host'


def test_a_first_word_other_than_modest_asks_as_usual(env):
    for args in (['/modest'], ['modestly', 'runapp'], ['runapp']):
        env.reset()
        folder = install_sample(env)
        r = run_update(env, args=args, language='en', answers=['no'])
        assert_boxes(r, [question(INSTALL_QUESTION['en'])])
        assert r.exit_code == 7, (args, r.exit_code)
        assert_nothing_changed(env, folder)
