"""The parts of the Wine test environment, one concern a module; tests import them through
tests/e2e/harness.py, whose docstring documents the whole interface."""
