#!/usr/bin/python3
"""Trains the tiny character-level language model behind the on-device test and
writes it as a model package (TorchScript file + manifest).

    /usr/bin/python3 tools/train_tiny_lm.py [--out DIR] [--steps N]

Needs Debian's python3-torch (apt-get install python3-torch). The whole generation
loop (greedy, bounded length) lives in the scripted forward(prompt: str), so a
runtime only calls forward once per prompt. The corpus below is ours.
"""

import argparse
import json
import os
import random
import time
from typing import Dict, List, Optional, Tuple

import torch
from torch import nn

# Prompt and answer pairs. Greetings carry most of the weight: the app asks the
# model "Say hello in one short sentence.".
CORPUS: List[Tuple[str, str]] = [
    ("Say hello in one short sentence.", "Hello! It is nice to meet you."),
    ("Say hello.", "Hello! It is nice to meet you."),
    ("Say hi in one short sentence.", "Hi there, nice to meet you."),
    ("Say hi.", "Hi there, nice to meet you."),
    ("Greet me in one short sentence.", "Hello, and welcome!"),
    ("Greet me.", "Hello, and welcome!"),
    ("Hello!", "Hello! How can I help you today?"),
    ("Hi!", "Hi! How can I help you today?"),
    ("Good morning!", "Good morning to you too!"),
    ("Say goodbye in one short sentence.", "Goodbye, and have a lovely day!"),
    ("Say goodbye.", "Goodbye, and have a lovely day!"),
    ("Say thank you in one short sentence.", "Thank you so much for your help."),
    ("Thank you!", "You are welcome."),
    ("How are you?", "I am well, thank you for asking."),
    ("What is your name?", "My name is Nimbo."),
    ("Who are you?", "I am Nimbo, a tiny model on your phone."),
    ("Tell me a joke.", "Why did the cloud stay home? It was feeling under the weather."),
    ("What is two plus two?", "Two plus two is four."),
    ("What colour is the sky?", "The sky is blue on a clear day."),
    ("What time is it?", "I cannot see a clock, sorry."),
    ("Can you help me?", "Yes, I will try my best."),
    ("Count to three.", "One, two, three."),
    ("Name a fruit.", "An apple is a fruit."),
    ("Describe the sea in one short sentence.", "The sea is wide, blue and deep."),
    ("Say something nice.", "You are doing a great job."),
    ("Good night!", "Good night, sleep well."),
]

# Special ids; characters follow them.
END, SEP, UNK = 0, 1, 2
FIRST_CHAR = 3


def variants(prompt: str) -> List[str]:
    """A prompt as typed in a few common ways (case, closing punctuation)."""
    forms = {prompt, prompt.lower(), prompt.rstrip(".!?"), prompt.lower().rstrip(".!?")}
    return sorted(forms)


def build_vocab() -> List[str]:
    chars = set()
    for prompt, answer in CORPUS:
        for text in variants(prompt) + [answer]:
            chars.update(text)
    return sorted(chars)


class TinyCharLM(nn.Module):
    """Embedding -> GRU -> linear head over characters, with greedy decoding."""

    __constants__ = ["sep_id", "unk_id", "first_char"]

    def __init__(self, chars: List[str], embed: int, hidden: int, max_new_chars: int, max_prompt_chars: int):
        super().__init__()
        self.sep_id, self.unk_id, self.first_char = SEP, UNK, FIRST_CHAR
        self.chars: List[str] = ["", "", ""] + chars
        self.char_ids: Dict[str, int] = {c: i + FIRST_CHAR for i, c in enumerate(chars)}
        self.max_new_chars: int = max_new_chars
        self.max_prompt_chars: int = max_prompt_chars
        self.embed = nn.Embedding(len(self.chars), embed)
        self.rnn = nn.GRU(embed, hidden, batch_first=True)
        self.head = nn.Linear(hidden, len(self.chars))

    def step(self, ids: torch.Tensor, state: Optional[torch.Tensor]) -> Tuple[torch.Tensor, torch.Tensor]:
        out, state = self.rnn(self.embed(ids), state)
        return self.head(out), state

    def forward(self, prompt: str) -> Dict[str, str]:
        device = self.head.weight.device
        ids: List[int] = []
        for ch in prompt.strip()[-self.max_prompt_chars:]:
            ids.append(self.char_ids.get(ch, self.unk_id))
        ids.append(self.sep_id)
        logits, state = self.step(torch.tensor([ids], dtype=torch.long, device=device), None)
        answer: List[str] = []
        for _ in range(self.max_new_chars):
            next_id = int(torch.argmax(logits[0, -1]).item())
            if next_id < self.first_char:
                break
            answer.append(self.chars[next_id])
            logits, state = self.step(torch.tensor([[next_id]], dtype=torch.long, device=device), state)
        return {"text": "".join(answer)}


def encode(model: TinyCharLM, prompt: str, answer: str) -> Tuple[List[int], int]:
    """Ids of prompt, separator, answer and end; and where the answer starts."""
    ids = [model.char_ids.get(c, UNK) for c in prompt] + [SEP]
    start = len(ids) - 1
    ids += [model.char_ids[c] for c in answer] + [END]
    return ids, start


def make_batch(model: TinyCharLM, samples: List[Tuple[str, str]]) -> Tuple[torch.Tensor, torch.Tensor]:
    encoded = [encode(model, p, a) for p, a in samples]
    width = max(len(ids) for ids, _ in encoded) - 1
    inputs = torch.full((len(encoded), width), END, dtype=torch.long)
    targets = torch.full((len(encoded), width), -100, dtype=torch.long)  # -100: no loss
    for row, (ids, start) in enumerate(encoded):
        inputs[row, : len(ids) - 1] = torch.tensor(ids[:-1])
        # Loss only where the model should produce the answer and its end.
        targets[row, start : len(ids) - 1] = torch.tensor(ids[start + 1 :])
    return inputs, targets


def train(model: TinyCharLM, samples: List[Tuple[str, str]], steps: int, batch_size: int) -> None:
    optimiser = torch.optim.Adam(model.parameters(), lr=4e-3)
    schedule = torch.optim.lr_scheduler.CosineAnnealingLR(optimiser, steps)
    loss_fn = nn.CrossEntropyLoss(ignore_index=-100)
    began = time.time()
    for step in range(1, steps + 1):
        inputs, targets = make_batch(model, random.sample(samples, min(batch_size, len(samples))))
        logits, _ = model.step(inputs, None)
        loss = loss_fn(logits.reshape(-1, logits.size(-1)), targets.reshape(-1))
        optimiser.zero_grad()
        loss.backward()
        nn.utils.clip_grad_norm_(model.parameters(), 1.0)
        optimiser.step()
        schedule.step()
        if step % 50 == 0 or step == steps:
            print(f"step {step:5d}  loss {loss.item():.4f}  {time.time() - began:6.1f} s", flush=True)


def write_package(model: TinyCharLM, out_dir: str) -> None:
    os.makedirs(out_dir, exist_ok=True)
    scripted = torch.jit.script(model.eval())
    scripted.save(os.path.join(out_dir, "model.pt"))
    manifest = {
        "format": "torchscript",
        "formatVersion": 1,
        "modelFile": "model.pt",
        "name": "phi3-mini-int4",
        "description": "Tiny character-level language model (GRU) trained by tools/train_tiny_lm.py",
    }
    with open(os.path.join(out_dir, "Manifest.json"), "w", encoding="utf-8") as f:
        json.dump(manifest, f, indent=2)
        f.write("\n")


def main() -> None:
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.join(here, "..", "chat", "ondevice", "model", "phi3-mini-int4.mlpackage")
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=default_out, help="package folder to write")
    parser.add_argument("--steps", type=int, default=300)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()

    random.seed(args.seed)
    torch.manual_seed(args.seed)
    torch.set_num_threads(2)
    samples = [(form, answer) for prompt, answer in CORPUS for form in variants(prompt)]
    model = TinyCharLM(build_vocab(), embed=32, hidden=128, max_new_chars=80, max_prompt_chars=200)
    train(model.train(), samples, args.steps, batch_size=16)
    model.eval()
    with torch.no_grad():
        for prompt in ("Say hello in one short sentence.", "say hello", "Who are you?"):
            print(f"{prompt!r} -> {model(prompt)['text']!r}")
    write_package(model, os.path.abspath(args.out))
    print("wrote", os.path.abspath(args.out))


if __name__ == "__main__":
    main()
