#!/usr/bin/env python3
"""Writes a plain text of a given size for the converter benchmark: English-like prose from a
vocabulary with a Zipf distribution, log lines, tab-separated tables, some lines wider than any
layout, a few UTF-8 characters and an occasional form feed. The same seed gives the same text."""

import argparse
import itertools
import random

SYLLABLES = ("ta ke ro mi su na lo pe de ri an en in on us or al el ar er ex co pro ma ti "
             "ver sta con tra ble ment tion ing ly ous ive ful").split()
ACCENTED = ["café", "naïve", "Zürich", "façade", "coöperate", "résumé", "–", "“quoted”", "€12"]


def vocabulary(rng, size):
    words = set()
    while len(words) < size:
        words.add("".join(rng.choice(SYLLABLES) for _ in range(rng.choice((1, 1, 2, 2, 3)))))
    words = sorted(words)
    rng.shuffle(words)
    return words


def generate(path, size, seed):
    rng = random.Random(seed)
    words = vocabulary(rng, 3000)
    cumulative = list(itertools.accumulate(1.0 / (rank + 1) for rank in range(len(words))))

    def pick(k):
        return rng.choices(words, cum_weights=cumulative, k=k)

    modules = ["net", "disk", "sched", "auth", "cache", "db", "http", "queue"]
    levels = ["INFO", "INFO", "INFO", "WARN", "DEBUG", "ERROR"]
    written = 0
    line_no = 0
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        while written < size:
            kind = rng.random()
            block = []
            if kind < 0.45:  # a paragraph of prose wrapped at 72 columns
                text = []
                for _ in range(rng.randint(3, 9)):
                    sentence = pick(rng.randint(6, 22))
                    if rng.random() < 0.05:
                        sentence.insert(rng.randrange(len(sentence)), rng.choice(ACCENTED))
                    text.append(" ".join(sentence).capitalize() + rng.choice(".....;?!"))
                line = ""
                for word in " ".join(text).split(" "):
                    if len(line) + len(word) + 1 > 72:
                        block.append(line)
                        line = word
                    else:
                        line = f"{line} {word}" if line else word
                block.append(line)
                block.append("")
            elif kind < 0.8:  # log lines
                for _ in range(rng.randint(5, 40)):
                    line_no += 1
                    message = " ".join(pick(rng.randint(3, 12)))
                    block.append(
                        f"2026-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d} "
                        f"{rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d}."
                        f"{rng.randint(0, 999):03d} {rng.choice(levels):5} "
                        f"[{rng.choice(modules)}] {message} id={rng.randint(1, 10**6)}")
                block.append("")
            elif kind < 0.95:  # a table with tabs
                for _ in range(rng.randint(4, 25)):
                    cells = [rng.choice(words)] + [str(rng.randint(0, 99999)) for _ in range(5)]
                    block.append("\t".join(cells))
                block.append("")
            elif kind < 0.99:  # a line wider than any layout
                block.append(" ".join(pick(rng.randint(40, 80))))
            else:
                block.append("\f")
            data = "\n".join(block) + "\n"
            out.write(data)
            written += len(data.encode("utf-8"))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("path")
    parser.add_argument("megabytes", type=float)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    generate(args.path, int(args.megabytes * 1024 * 1024), args.seed)


if __name__ == "__main__":
    main()
