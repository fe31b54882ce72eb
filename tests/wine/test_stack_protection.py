"""The release build's stack protection at work under Wine, through a probe built with the
program's flags and the program's own stack-protector support: the canary gets a fresh random
value at start-up, an overrun of a stack buffer and a fortified memcpy past its buffer both
end the process by fail-fast (STATUS_STACK_BUFFER_OVERRUN), and the same calls within bounds
do not."""
import unittest

import harness

PROBE = harness.SUPPORT_DIR / "release" / "hardening_probe.exe"
FIXED_CANARY = 0x2B992DDFA232
STACK_BUFFER_OVERRUN = 0xC0000409


def probe(*arguments):
    result = harness.run_program(PROBE, [str(a) for a in arguments], timeout=60)
    return result.returncode, result.stdout.decode("ascii").split()


class StackProtectionTest(unittest.TestCase):
    def test_the_canary_is_seeded_with_a_random_value(self):
        seeded = []
        for _ in range(2):
            code, lines = probe("guard")
            self.assertEqual(code, 0)
            before, after = (int(line, 16) for line in lines)
            self.assertEqual(before, FIXED_CANARY)
            self.assertNotEqual(after, FIXED_CANARY)
            self.assertEqual(after & 0xFF, 0, "the low byte stops string overruns")
            seeded.append(after)
        self.assertNotEqual(seeded[0], seeded[1])

    def test_overruns_end_the_process_and_calls_within_bounds_do_not(self):
        cases = [
            ("stack", 16, 0),
            ("stack", 64, STACK_BUFFER_OVERRUN),
            ("copy", 16, 0),
            ("copy", 17, STACK_BUFFER_OVERRUN),
        ]
        for mode, count, expected in cases:
            with self.subTest(mode=mode, count=count):
                code, lines = probe("run", mode, count)
                self.assertEqual(code, 0)
                self.assertEqual(int(lines[-1], 16), expected)


if __name__ == "__main__":
    unittest.main()
