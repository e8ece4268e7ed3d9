#!/usr/bin/python3
"""Checks the unit's messages against the JSON Schemas of this folder.

  validate.py answers FILE...    answers to the head-end (a file may hold
                                 several one after another, as a dcuhost
                                 --stdin session writes them; a folder
                                 stands for every file under it)
  validate.py requests FILE...   machine requests, the same way
  validate.py status FILE...     state messages of the status topic
  validate.py schemas            every schema is a draft-07 schema, and every
                                 message example of asyncapi.yaml matches the
                                 schema of its message

An answer whose DATA holds REASON is the host's failure answer
(answers/failure.schema.json); any other answer is checked against
answers/<TYPE>.schema.json, a request against requests/<TYPE>.schema.json.
Beside what the schemas say, the members of every object must come in the
order its schema lists them (the answers' byte contract), and no object may
hold a member name twice, except the modem answer's DATA, whose first
"Status" is the request's sequence number.

For every message it prints "FILE<TAB>N<TAB>SCHEMA<TAB>ok|invalid" on
standard output (N counts from 1 in each file; SCHEMA "-" when none
applies) and what is wrong on standard error. Exit status 0 when every
message holds, 1 when one does not, 2 on a usage error. Run it with
Debian's python3 (python3-jsonschema, python3-yaml).
"""

import json
import pathlib
import re
import sys
import warnings

import jsonschema
from jsonschema import Draft7Validator, ValidationError

HERE = pathlib.Path(__file__).resolve().parent

# The one documented exception to "a name at most once per object".
MODEM_TYPE = "GET_MODEM_DIAG_MESSAGE"


class Members(dict):
    """A JSON object that remembers the names it held more than once."""

    def __init__(self, pairs):
        super().__init__()
        self.repeated = {}  # name -> (how often it came, its first value)
        for name, value in pairs:
            if name in self:
                count, first = self.repeated.get(name, (1, self[name]))
                self.repeated[name] = (count + 1, first)
            self[name] = value


def refuse_constant(name):
    raise ValueError("%s is not JSON" % name)


def read_messages(path):
    """The JSON texts of a file, one after another, separated by blanks."""
    try:
        text = pathlib.Path(path).read_bytes().decode("utf-8")
    except UnicodeDecodeError as error:
        yield None, "not UTF-8: %s" % error
        return
    decoder = json.JSONDecoder(object_pairs_hook=Members, parse_constant=refuse_constant)
    position = 0
    while True:
        while position < len(text) and text[position] in " \t\r\n":
            position += 1
        if position == len(text):
            return
        try:
            value, position = decoder.raw_decode(text, position)
        except ValueError as error:
            yield None, "not JSON at character %d: %s" % (position, error)
            return
        yield value, None


def ordered_properties(validator, properties, instance, schema):
    yield from Draft7Validator.VALIDATORS["properties"](validator, properties, instance, schema)
    if validator.is_type(instance, "object"):
        found = [name for name in instance if name in properties]
        expected = [name for name in properties if name in instance]
        if found != expected:
            yield ValidationError("members in the order %s, not %s" % (expected, found))


OrderedValidator = jsonschema.validators.extend(Draft7Validator, {"properties": ordered_properties})


class Schemas:
    def __init__(self):
        self.store = {}
        # This folder and answers/, requests/ only (never an npm tree here).
        paths = [*HERE.glob("*.schema.json"), *HERE.glob("answers/*.schema.json"), *HERE.glob("requests/*.schema.json")]
        for path in sorted(paths):
            self.store[path.as_uri()] = json.loads(path.read_text(encoding="utf-8"))

    def validator(self, path):
        uri = path.as_uri()
        schema = self.store.get(uri)
        if schema is None:
            return None
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            resolver = jsonschema.RefResolver(base_uri=uri, referrer=schema, store=self.store)
        return OrderedValidator(schema, resolver=resolver)


def repeated_names(value, answer, where="", problems=None):
    """Names held twice in an object of value, as problems."""
    problems = [] if problems is None else problems
    if isinstance(value, Members):
        for name, (count, first) in value.repeated.items():
            modem_status = (answer is not None and where == "/DATA" and name == "Status" and count == 2
                            and answer.get("TYPE") == MODEM_TYPE and first == answer.get("SEQ_NUM"))
            if not modem_status:
                problems.append("%s: the member %s %d times" % (where or "/", name, count))
        for name, member in value.items():
            repeated_names(member, answer, "%s/%s" % (where, name), problems)
    elif isinstance(value, list):
        for index, item in enumerate(value):
            repeated_names(item, answer, "%s/%d" % (where, index), problems)
    return problems


def schema_for(kind, message):
    """The schema's name and path for a message, or a reason why there is none."""
    if not isinstance(message, dict):
        return None, None, "not a JSON object"
    if kind == "status":
        return "status", HERE / "status.schema.json", None
    data = message.get("DATA")
    if kind == "answers" and isinstance(data, dict) and "REASON" in data:
        return "failure", HERE / "answers" / "failure.schema.json", None
    type_ = message.get("TYPE")
    if not isinstance(type_, str):
        return None, None, "no TYPE text"
    path = HERE / kind / ("%s.schema.json" % type_)
    if not re.fullmatch("[A-Z][A-Z0-9_]*", type_) or not path.is_file():
        return None, None, "no schema for TYPE %s" % json.dumps(type_)
    return type_, path, None


def check_file(kind, file_name, schemas):
    bad = 0
    for index, (message, parse_error) in enumerate(read_messages(file_name), start=1):
        name, problems = "-", []
        if parse_error:
            problems = [parse_error]
        else:
            name, path, why = schema_for(kind, message)
            if why:
                name, problems = "-", [why]
            else:
                for error in sorted(schemas.validator(path).iter_errors(message), key=lambda e: list(e.absolute_path)):
                    where = "/" + "/".join(str(part) for part in error.absolute_path)
                    problems.append("%s: %s" % (where, error.message))
                problems += repeated_names(message, message if kind == "answers" else None)
        print("%s\t%d\t%s\t%s" % (file_name, index, name, "invalid" if problems else "ok"))
        for problem in problems:
            print("%s: message %d (%s): %s" % (file_name, index, name, problem), file=sys.stderr)
        bad += bool(problems)
    return bad


def check_schemas(schemas):
    """Every schema file a draft-07 schema; every example of the AsyncAPI
    document valid against its message's schema; every answer and request
    schema named by a message of the document."""
    import yaml

    bad = 0
    for uri, schema in schemas.store.items():
        try:
            Draft7Validator.check_schema(schema)
        except jsonschema.SchemaError as error:
            print("%s: not a draft-07 schema: %s" % (uri, error.message), file=sys.stderr)
            bad += 1
    document_path = HERE / "asyncapi.yaml"
    document = yaml.safe_load(document_path.read_text(encoding="utf-8"))
    named = set()
    for key, message in document["components"]["messages"].items():
        reference = message["payload"]["schema"]["$ref"]
        path = (document_path.parent / reference).resolve()
        named.add(path)
        validator = schemas.validator(path)
        if validator is None:
            print("asyncapi.yaml: message %s: no schema %s" % (key, reference), file=sys.stderr)
            bad += 1
            continue
        examples = message.get("examples", [])
        if not examples:
            print("asyncapi.yaml: message %s has no example" % key, file=sys.stderr)
            bad += 1
        for example in examples:
            for error in validator.iter_errors(example["payload"]):
                where = "/" + "/".join(str(part) for part in error.absolute_path)
                print("asyncapi.yaml: message %s, example %s: %s: %s"
                      % (key, example.get("name", "?"), where, error.message), file=sys.stderr)
                bad += 1
        print("asyncapi.yaml\t%s\t%s\t%d examples" % (key, reference, len(examples)))
    for path in sorted(HERE.glob("answers/*.schema.json")) + sorted(HERE.glob("requests/*.schema.json")):
        if path.resolve() not in named:
            print("asyncapi.yaml: no message has the schema %s" % path.relative_to(HERE), file=sys.stderr)
            bad += 1
    return bad


def main(argv):
    if len(argv) < 2 or argv[1] not in ("answers", "requests", "status", "schemas") or \
            (argv[1] != "schemas" and len(argv) < 3):
        print(__doc__.strip().split("\n\n")[0], file=sys.stderr)
        return 2
    schemas = Schemas()
    if argv[1] == "schemas":
        return 1 if check_schemas(schemas) else 0
    bad = 0
    for name in argv[2:]:
        # A folder stands for every file under it.
        files = sorted(str(p) for p in pathlib.Path(name).rglob("*") if p.is_file()) \
            if pathlib.Path(name).is_dir() else [name]
        for file_name in files:
            bad += check_file(argv[1], file_name, schemas)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
