#!/usr/bin/python3
"""Writes readings.tsv: the reading the g2pM model gives each of its
polyphonic characters standing alone, with the model's share for it among
the character's readings; or, with --words, word-readings.tsv: the model's
reading of each word of a list, one numbered syllable per character.

A character alone gives the model no context, so its answer is the reading
it learnt to expect most of that character in encyclopedic sentences (its
training data). The dictionary builder takes it as evidence of use for
characters that the frequency dictionary behind Unihan's kHanyuPinlu saw too
seldom to tell.

Usage: /usr/bin/python3 data/dict/g2pm/make-readings.py G2PM_DIR > readings.tsv
       node data/dict/build-dictionaries.mjs --model-candidates > words.txt
       /usr/bin/python3 data/dict/g2pm/make-readings.py G2PM_DIR --words words.txt \
         > word-readings.tsv
G2PM_DIR holds the g2pM package (g2pM.py and its .pkl files); it needs
numpy (Debian python3-numpy). Output is deterministic for one model.
"""
import math
import pathlib
import sys

import numpy as np


def load_model(directory):
    sys.path.insert(0, str(pathlib.Path(directory).resolve().parent))
    from g2pM import G2pM  # noqa: E402 (found only once the path is set)

    return G2pM()


def logits_alone(model, char):
    # The model's own forward pass, keeping the logits that its predict()
    # reduces to one class.
    ids = np.array([[model.char2idx["시"], model.char2idx[char],
                     model.char2idx["끝"]]], dtype=np.int32)
    lengths = np.sum(np.sign(ids), axis=1)
    reverse = model.reverse_sequence(ids, lengths)
    forward_in, backward_in = model.get_embedding(ids), model.get_embedding(reverse)
    fw = bw = None
    fw_h, bw_h = [], []
    for step in range(int(max(lengths))):
        fw = model.fw_lstm_cell(forward_in[:, step, :], fw)
        bw = model.bw_lstm_cell(backward_in[:, step, :], bw)
        fw_h.append(fw[0])
        bw_h.append(bw[0])
    forward = np.stack(fw_h, axis=1)
    backward = model.reverse_sequence(np.stack(bw_h, axis=1), lengths)
    hidden = np.concatenate([forward, backward], axis=2)[0][1]
    return model.fc_layer(hidden[None, :])[0]


def print_word_readings(model, words_file):
    print("# The g2pM model's reading of words that build-dictionaries.mjs")
    print("# --model-candidates lists (numbered pinyin, 5 = neutral, one syllable per")
    print("# character). Made by data/dict/g2pm/make-readings.py --words; g2pM:")
    print("# Apache-2.0, LICENSE beside this file.")
    with open(words_file, encoding="utf-8") as words:
        for word in sorted({line.strip() for line in words if line.strip()}):
            syllables = model(word, tone=True, char_split=True)
            if len(syllables) == len(word):
                print(f"{word}\t{' '.join(syllables)}")


def main():
    if len(sys.argv) == 4 and sys.argv[2] == "--words":
        print_word_readings(load_model(sys.argv[1]), sys.argv[3])
        return
    if len(sys.argv) != 2:
        sys.exit("usage: make-readings.py G2PM_DIR [--words FILE]")
    model = load_model(sys.argv[1])
    class_of = {reading: index for index, reading in model.idx2class.items()}
    print("# The g2pM model's reading of each of its polyphonic characters standing")
    print("# alone, and its share among the character's readings (numbered pinyin,")
    print("# 5 = neutral). Made by data/dict/g2pm/make-readings.py; g2pM: Apache-2.0,")
    print("# LICENSE beside this file.")
    for char in sorted(model.cedict):
        readings = [r for r in model.cedict[char] if r in class_of]
        if len(char) != 1 or len(readings) < 2 or char not in model.char2idx:
            continue
        logits = logits_alone(model, char)
        scored = sorted(((float(logits[class_of[r]]), r) for r in readings), reverse=True)
        top = scored[0][0]
        total = sum(math.exp(score - top) for score, _ in scored)
        print(f"{char}\t{scored[0][1]}\t{1 / total:.3f}")


if __name__ == "__main__":
    main()
