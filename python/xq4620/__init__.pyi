# SPDX-License-Identifier: MIT
# Type hints of the xq4620 package, for editors and type checkers.
import os
from types import TracebackType
from typing import Any, Dict, Iterator, List, Optional, SupportsIndex, Tuple, Type, Union

__version__: str

# A register: an int 0 to 255 (or anything with __index__), or a hex byte
# text such as '0x03'.
_Reg = Union[SupportsIndex, str]
_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

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
    """One named field of a register; fields compare by name."""

    @property
    def name(self) -> str: ...
    @property
    def register(self) -> int: ...
    @property
    def register_name(self) -> str: ...
    @property
    def lsb(self) -> int: ...
    @property
    def width(self) -> int: ...
    @property
    def bits(self) -> Tuple[int, ...]: ...
    @property
    def access(self) -> str: ...
    @property
    def reset(self) -> Optional[int]: ...
    @property
    def max(self) -> int: ...
    @property
    def choices(self) -> Tuple[str, ...]: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

class Register:
    """One register of the chip; registers compare by address."""

    @property
    def address(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def access(self) -> str: ...
    @property
    def reset(self) -> Optional[int]: ...
    @property
    def fields(self) -> Tuple[str, ...]: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

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
    def fail_next(
        self, reads: Optional[SupportsIndex] = ..., writes: Optional[SupportsIndex] = ...
    ) -> None:
        """Make the next `reads` register reads and `writes` register writes
        fail; a count not given is left as it is."""

class Transaction:
    """A hold on the board for a `with` block; it may be entered again,
    nested, and by several threads."""

    def __enter__(self) -> Board: ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None: ...

class Board:
    """An XQ4620 on its evaluation board, set up and ready; see xq4620.open().
    Threads may share one: each call is whole, and a transaction keeps the
    other threads out as it keeps other programs out."""

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
    def read(self, reg: _Reg, *, force: bool = ...) -> int:
        """Read one register; 0 to 255. A write-only or absent register needs force=True."""
    def write(self, reg: _Reg, value: SupportsIndex, *, force: bool = ...) -> None:
        """Write one byte to one register. A read-only or absent register needs force=True."""
    def get(self, field: str) -> Union[int, str]:
        """A field's value: its choice text ('24 V') or an int."""
    def set(self, **fields: Union[SupportsIndex, str, bool]) -> None:
        """Change fields, keeping every other bit: set(ovp='32 V', led_a_en=1)."""
    def dump(self) -> Dict[str, Any]:
        """Every readable register with its decoded fields, as `xq4620 dump --json`."""
    def save(self, path: _Path) -> None:
        """Save registers 0x00 to 0x08 to a register file."""
    def load(self, path: _Path) -> None:
        """Check a register file whole, write it in address order and read it back."""
    def reset(self) -> None:
        """Software reset: every register to its reset value, the fault flags cleared."""
    def sleep(self) -> None:
        """Set the Sleep bit of Control, keeping the rest."""
    def power(self, on: bool) -> None:
        """Switch the board's supply on or off through the bench's supply line."""
    @property
    def supply(self) -> Optional[bool]:
        """Whether the board's supply is on; None when no supply line is described."""
    def transaction(self) -> Transaction:
        """Hold the board against every other program of ours, and the other
        threads of this one, for a `with` block."""
    def watch(
        self, *names: _Reg, interval: float = ..., count: Optional[int] = ...
    ) -> Iterator[Dict[str, Any]]:
        """Yield the values, then each change, as `xq4620 watch --json` prints them."""

def open(adapter: Optional[str] = ...) -> Board:
    """Open the evaluation board and set it up: "sim", "sim:NAME", "/dev/i2c-N",
    "usb:SERIAL", "usb-port:PORT", or "" for the one USB bridge found; several
    boards may be open side by side."""

def fields() -> List[Field]:
    """Every field of the chip, register by register, highest bit first."""

def registers() -> List[Register]:
    """Every register of the chip in address order."""
