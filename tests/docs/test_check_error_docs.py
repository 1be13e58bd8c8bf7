"""The error-docs check fails for each kind of disagreement between sources and docs."""

import os
import tempfile
import unittest

import check_error_docs

SOURCE = r'''
const Msg kTimeout{"1Тайм-Аут подключения.", "1Connection timeout."};
const Msg kVersionStart{"5Ваша версия Merxa ", "5Your version Merxa "};
const Msg kVersionEnd{" Не поддерживается.", " is not supported."};
const Msg kCaption{"Выход", "Exit"};
// const Msg kCommented{"4Не используется.", "4Not used."};
void F(const std::string& name) {
  if (name.empty()) RaiseText("8Параметр с именем " + name + " отсутствует");
  else RaiseText("8Parameter name " + name + " missing");
  Raise(Msg{"6Строка\rвторая", "6Line\rtwo"});
}
'''

ERRORS = '''# Errors

| Code | Russian text | English text | What to do |
|---|---|---|---|
| 1 | `Тайм-Аут подключения.` | `Connection timeout.` | wait |
| 5 | `Ваша версия Merxa {версия} Не поддерживается.` | `Your version Merxa {version} is not supported.` | update |
| 6 | `Строка\\rвторая` | `Line\\rtwo` | read |
| 8 | `Параметр с именем {имя} отсутствует` | `Parameter name {name} missing` | name |
'''

DIALOGS = {"ru": "Вопрос \"Выход\".", "en": "Question \"Exit\"."}


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", encoding="utf-8") as f:
        f.write(text)


class CheckErrorDocsTest(unittest.TestCase):
    def problems(self, source=SOURCE, errors=ERRORS, dialogs=DIALOGS):
        with tempfile.TemporaryDirectory() as root:
            write(root, "link/messages.cpp", source)
            for lang in ("ru", "en"):
                write(root, "docs/%s/errors.md" % lang, errors)
                write(root, "docs/%s/dialogs.md" % lang, dialogs[lang])
            return check_error_docs.check(root)

    def test_matching_sources_and_docs_pass(self):
        self.assertEqual(self.problems(), [])

    def test_disagreements_are_reported(self):
        cases = [
            ("a new coded message without a row",
             dict(source=SOURCE + 'const Msg kNew{"4Новое.", "4New."};'), "'Новое.'"),
            ("a row under the wrong code",
             dict(errors=ERRORS.replace("| 1 | `Тайм", "| 3 | `Тайм")), "code 3"),
            ("a row whose text the driver does not raise",
             dict(errors=ERRORS + "| 2 | `Старое.` | `Old.` | - |\n"), "'Старое.'"),
            ("a code no message carries",
             dict(errors=ERRORS + "| 13 | `x` | `y` | - |\n"), "'13'"),
            ("an English text that differs by one character",
             dict(errors=ERRORS.replace("`Connection timeout.`", "`Connection time-out.`")),
             "Connection time-out."),
            ("a composed text without its row",
             dict(errors=ERRORS.replace("| 8 |", "| 7 |")), "{} отсутствует"),
            ("a composed text whose fixed end is not in the sources",
             dict(errors=ERRORS.replace("{version} is not supported.", "{version} is unsupported.")),
             "is unsupported."),
            ("a pair whose languages carry different codes",
             dict(source=SOURCE + 'const Msg kOdd{"4Сбой.", "5Failure."};'), "different codes"),
            ("a dialog text documented nowhere",
             dict(dialogs={"ru": "", "en": DIALOGS["en"]}), "'Выход'"),
        ]
        for name, change, expected in cases:
            with self.subTest(name):
                problems = self.problems(**change)
                self.assertTrue(any(expected in p for p in problems), problems)

    def test_commented_out_messages_are_not_required(self):
        problems = self.problems()
        self.assertFalse(any("Не используется" in p for p in problems), problems)


if __name__ == "__main__":
    unittest.main()
