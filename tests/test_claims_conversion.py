"""Reading Python claim objects: the order of attributes, the strict and lenient rules and
their error texts, and how the converted values come back."""
import math
from types import SimpleNamespace

import pytest

from factory import Entity, Payload, Predicate, Provenance, Status, make_claim, replace


def stored_as(store, claim):
    assert store.insert_claim(claim) is True
    return store.get_claim(claim.claim_id)


# (what is changed, the change, what comes back): lenient and coercing rules.
ACCEPTED = [
    ("int confidence", {"confidence": 1}, lambda d: d["confidence"] == 1.0 and type(d["confidence"]) is float),
    ("bool timestamp", {"timestamp": True}, lambda d: d["timestamp"] == 1),
    ("display_name None", {"subject": Entity("a", display_name=None)}, lambda d: d["subject"]["display_name"] == ""),
    ("display_name int", {"subject": Entity("a", display_name=3)}, lambda d: d["subject"]["display_name"] == ""),
    ("external_ids mixed", {"subject": Entity("a", external_ids={"a": 1, 2: "x", "b": None})},
     lambda d: d["subject"]["external_ids"] == {"a": "1", "b": "None"}),
    ("external_ids None", {"object": Entity("b", external_ids=None)}, lambda d: d["object"]["external_ids"] == {}),
    ("external_ids list", {"object": Entity("b", external_ids=[("a", "b")])},
     lambda d: d["object"]["external_ids"] == {}),
    ("labels all or nothing", {"provenance": Provenance(labels={"a": "x", "b": 1})},
     lambda d: d["provenance"]["labels"] == {}),
    ("labels None", {"provenance": Provenance(labels=None)}, lambda d: d["provenance"]["labels"] == {}),
    ("chain str", {"provenance": Provenance(chain="abc")}, lambda d: d["provenance"]["chain"] == []),
    ("chain with non-str", {"provenance": Provenance(chain=["a", 1])}, lambda d: d["provenance"]["chain"] == []),
    ("chain tuple", {"provenance": Provenance(chain=("a", "b"))}, lambda d: d["provenance"]["chain"] == ["a", "b"]),
    ("method non-str", {"provenance": Provenance(method=5, agent_id=b"x")},
     lambda d: d["provenance"]["method"] is None and d["provenance"]["agent_id"] is None),
    ("namespace non-str", {"namespace": 5}, lambda d: d["namespace"] == ""),
    ("expires_at None", {"expires_at": None}, lambda d: d["expires_at"] == 0),
    ("expires_at str", {"expires_at": "7"}, lambda d: d["expires_at"] == 0),
    ("expires_at too big", {"expires_at": 2**70}, lambda d: d["expires_at"] == 0),
    ("payload keys sorted", {"payload": Payload("s", {"b": 1, "a": "x y"})},
     lambda d: d["payload"] == {"schema_ref": "s", "data_json": '{"a":"x y","b":1}'}),
    ("payload 2**64 is a float", {"payload": Payload("s", [2**64, -2**63, 1.5])},
     lambda d: d["payload"]["data_json"] == "[1.8446744073709552e+19,-9223372036854775808,1.5]"),
    ("payload null", {"payload": Payload("s", None)}, lambda d: d["payload"]["data_json"] == "null"),
    ("status verified", {"status": Status("verified")}, lambda d: d["status"] == "verified"),
]


@pytest.mark.parametrize("change, check", [(c, k) for _, c, k in ACCEPTED], ids=[n for n, _, _ in ACCEPTED])
def test_accepted_values_convert_as_documented(any_store, change, check):
    assert check(stored_as(any_store, replace(make_claim("c1"), **change)))


def test_claim_without_optional_attributes_converts(any_store):
    base = make_claim("c1", namespace="x", expires_at=9)
    fields = {k: getattr(base, k) for k in vars(base) if k not in ("namespace", "expires_at")}
    prov = {k: getattr(base.provenance, k) for k in vars(base.provenance) if k != "labels"}
    fields["provenance"] = SimpleNamespace(**prov)
    got = stored_as(any_store, SimpleNamespace(**fields))
    assert (got["namespace"], got["expires_at"], got["provenance"]["labels"]) == ("", 0, {})


class Boom:
    def __str__(self):
        raise RuntimeError("no text")


class Unjsonable:
    pass


# (the change, the exception, its text: "" when Python's own, a prefix when it ends in ": ")
REFUSED = [
    ({"claim_id": 5}, TypeError, ""),
    ({"content_id": None}, TypeError, ""),
    ({"confidence": "high"}, TypeError, ""),
    ({"timestamp": 1.5}, TypeError, ""),
    ({"timestamp": 2**63}, OverflowError, ""),
    ({"subject": "a"}, AttributeError, ""),
    ({"subject": Entity(5)}, TypeError, ""),
    ({"object": Entity("b", entity_type=None)}, TypeError, ""),
    ({"predicate": Predicate("p", None)}, TypeError, ""),
    ({"provenance": Provenance(source_id=7)}, TypeError, ""),
    ({"payload": Payload(5, {})}, TypeError, ""),
    ({"payload": Payload("s", Unjsonable())}, TypeError, ""),
    ({"payload": Payload("s", {"x": float("nan")})}, ValueError, "invalid payload JSON: "),
    ({"payload": Payload("s", [math.inf])}, ValueError, "invalid payload JSON: "),
    ({"status": "active"}, AttributeError, ""),
    ({"status": Status(None)}, TypeError, ""),
    ({"status": Status("retracted")}, ValueError, "invalid claim status: unknown ClaimStatus: retracted"),
    ({"status": Status("Active")}, ValueError, "invalid claim status: unknown ClaimStatus: Active"),
]


@pytest.mark.parametrize("change, error, text", REFUSED)
def test_refused_values_raise_and_store_nothing(any_store, change, error, text):
    with pytest.raises(error) as info:
        any_store.insert_claim(replace(make_claim("c1"), **change))
    if text.endswith(": "):
        assert str(info.value).startswith(text)
    elif text:
        assert str(info.value) == text
    assert any_store.count_claims() == 0


def test_the_earliest_bad_attribute_is_reported(any_store):
    claim = replace(make_claim("c1"), content_id=1, status=Status("bogus"), timestamp="x")
    with pytest.raises(TypeError):
        any_store.insert_claim(claim)
    claim = replace(make_claim("c1"), status=Status("bogus"), payload=Payload("s", float("nan")))
    with pytest.raises(ValueError, match="^invalid payload JSON: "):
        any_store.insert_claim(claim)


@pytest.mark.parametrize("missing", ["claim_id", "confidence", "subject", "payload", "status"])
def test_missing_required_attribute_raises_attribute_error(any_store, missing):
    base = make_claim("c1")
    fields = {k: getattr(base, k) for k in vars(base) if k != missing}
    with pytest.raises(AttributeError):
        any_store.insert_claim(SimpleNamespace(**fields))


def test_a_dict_is_not_a_claim(any_store):
    with pytest.raises(AttributeError):
        any_store.insert_claim(vars(make_claim("c1")))


def test_external_id_whose_text_fails_is_skipped(any_store):
    claim = replace(make_claim("c1"), subject=Entity("a", external_ids={"bad": Boom(), "ok": 2}))
    assert stored_as(any_store, claim)["subject"]["external_ids"] == {"ok": "2"}


class Mutating:
    """A value whose text, when taken, changes the dict that holds it."""

    def __init__(self, target, change):
        self.target, self.change = target, change

    def __str__(self):
        self.change(self.target)
        return "v"


@pytest.mark.parametrize("change, text", [
    (lambda d: d.__setitem__("new", "x"), "dictionary changed size during iteration"),
    (lambda d: d.pop("z"), "dictionary changed size during iteration"),
    (lambda d: (d.pop("a"), d.__setitem__("b", "x")), "dictionary keys changed during iteration"),
])
def test_external_ids_changing_under_conversion_is_a_fault(any_store, change, text):
    ext = {}
    ext["a"] = Mutating(ext, change)
    ext["z"] = "last"
    with pytest.raises(BaseException) as info:
        any_store.insert_claim(replace(make_claim("c1"), subject=Entity("a", external_ids=ext)))
    assert not isinstance(info.value, Exception)
    assert str(info.value) == text
    assert any_store.count_claims() == 0
    assert any_store.insert_claim(make_claim("c2")) is True  # the instance stays usable


def test_attribute_errors_raised_by_properties_propagate(any_store):
    class Exploding:
        def __getattr__(self, name):
            raise KeyError(name)

    with pytest.raises(KeyError):
        any_store.insert_claim(Exploding())
