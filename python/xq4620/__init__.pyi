# SPDX-License-Identifier: MIT
# Type hints of the xq4620 package, for editors and type checkers.
import os
from types import TracebackType
from typing import Any, Dict, Iterator, List, Optional, Tuple, Type, Union

__version__: str

Reg = Union[int, str]
"""A register: an int 0 to 255, or a hex byte text such as '0x03'."""

class BoardError(OSError):
    """The adapter or the chip failed: errno, the register involved (or None)
    and the library's reason; str() is the whole message."""

    message: str
    register: Optional[int]
    reason: str
    def __init__(
        self, errno: int, message: str, register: Optional[int] = ..., reason: Optional[str] = ...
    ) -> None: ...

class Field:
    """One named field of a register."""

    name: str
    register: int
    register_name: str
    lsb: int
    width: int
    bits: Tuple[int, ...]
    access: str
    reset: Optional[int]
    max: int
    choices: Tuple[str, ...]

class Register:
    """One register of the chip."""

    address: int
    name: str
    access: str
    reset: Optional[int]
    fields: Tuple[str, ...]

class Simulation:
    """The simulated board's fault inputs. They model the chip's flags and
    its supply only, not its analogue behaviour."""

    def power_off(self) -> None:
        """Cut the board's supply: every access fails until power_on()."""
    def power_on(self) -> None:
        """Restore the supply: the chip starts from its reset values."""
    def raise_flags(
        self, *, ocp: Optional[bool] = ..., ovp: Optional[bool] = ..., tsd: Optional[bool] = ...
    ) -> None:
        """Set (True) or clear (False) fault flags in Interrupt Status
        (OCP bit 2, OVP bit 1, TSD bit 0); a flag not named is left as it is."""
    def clear_flags(self) -> None:
        """Clear every fault flag."""
    def fail_next(self, reads: int = ..., writes: int = ...) -> None:
        """Make the next `reads` register reads and `writes` register writes fail."""

class Transaction:
    def __enter__(self) -> Board: ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None: ...

class Board:
    """An XQ4620 on its evaluation board, set up and ready; see xq4620.open()."""

    def __init__(self, adapter: Optional[str] = ...) -> None: ...
    @property
    def adapter(self) -> str:
        """The adapter as VTX_ADAPTER names it ('' for automatic detection)."""
    @property
    def closed(self) -> bool: ...
    @property
    def simulation(self) -> Optional[Simulation]:
        """The fault controls of a simulated board; None on real hardware."""
    def close(self) -> None: ...
    def __enter__(self) -> Board: ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None: ...
    def read(self, reg: Reg, *, force: bool = ...) -> int:
        """Read one register; 0 to 255. A write-only or absent register needs force=True."""
    def write(self, reg: Reg, value: int, *, force: bool = ...) -> None:
        """Write one byte to one register. A read-only or absent register needs force=True."""
    def get(self, field: str) -> Union[int, str]:
        """A field's value: its choice text ('24 V') or an int."""
    def set(self, **fields: Union[int, str, bool]) -> None:
        """Change fields, keeping every other bit: set(ovp='32 V', led_a_en=1)."""
    def dump(self) -> Dict[str, Any]:
        """Every readable register with its decoded fields, as `xq4620 dump --json`."""
    def save(self, path: Union[str, os.PathLike]) -> None:
        """Save registers 0x00 to 0x08 to a register file."""
    def load(self, path: Union[str, os.PathLike]) -> None:
        """Check a register file whole, write it in address order and read it back."""
    def reset(self) -> None:
        """Software reset: every register to its reset value, the fault flags cleared."""
    def sleep(self) -> None:
        """Set the Sleep bit of Control, keeping the rest."""
    def transaction(self) -> Transaction:
        """Hold the board against every other program of ours for a `with` block."""
    def watch(
        self, *names: Reg, interval: float = ..., count: Optional[int] = ...
    ) -> Iterator[Dict[str, Any]]:
        """Yield the values, then each change, as `xq4620 watch --json` prints them."""

def open(adapter: Optional[str] = ...) -> Board:
    """Open the evaluation board and set it up."""

def fields() -> List[Field]:
    """Every field of the chip, register by register, highest bit first."""

def registers() -> List[Register]:
    """Every register of the chip in address order."""
