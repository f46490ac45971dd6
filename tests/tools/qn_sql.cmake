# `qn sql` on a database this script makes: VALUEs bound by kind, rows read
# back by column type, work committed between runs, failures reported and
# rolled back. Run with -DQN=<the qn tool> -DWORK=<a scratch folder>.
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(DB "${WORK}/offline.db")
set(failures 0)

# Runs `qn sql DB ARGS...` and checks its exit code, and its standard output
# (or, for a failure, standard error) against a regular expression.
function(expect name code pattern)
    execute_process(COMMAND "${QN}" sql "${DB}" ${ARGN}
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(code EQUAL 0)
        set(text "${out}")
    else()
        set(text "${err}")
    endif()
    if(NOT rc EQUAL code OR NOT text MATCHES "${pattern}")
        message(SEND_ERROR "${name}: exit ${rc} (wanted ${code})\nstdout:\n${out}\nstderr:\n${err}\n"
            "wanted to match: ${pattern}")
    endif()
endfunction()

# A statement without rows prints its status; the next run finds its table.
expect(create 0 "^status 0\n$"
    "CREATE TABLE t (id INTEGER PRIMARY KEY, v, note TEXT)")

# Each VALUE binds as the kind it reads as; `typeof` shows what SQLite got.
set(kinds
    "42|integer" "-7|integer" "007|integer" "12.5|real"
    "12345678901234567890.5|text"        # a decimal past 15 digits is kept as text
    "99999999999999999999|text"          # an integer past 64 bits is a decimal
    "null|null" "NULL|text" "1e5|text" ".5|text" "-|text" "12.|text" "0x10|text")
set(id 1)
foreach(kind IN LISTS kinds)
    string(REPLACE "|" ";" pair "${kind}")
    list(GET pair 0 value)
    list(GET pair 1 type)
    expect("bind ${value}" 0 "^status 0\n$" "INSERT INTO t (id, v) VALUES (?, ?)" ${id} "${value}")
    expect("typeof ${value}" 0 "^typeof\\(v\\)\n${type}\n$"
        "SELECT typeof(v) FROM t WHERE id = ?" ${id})
    math(EXPR id "${id} + 1")
endforeach()

# A decimal of 38 digits keeps them all; one of 39 would round, so it is text.
expect("38 digits" 0 "^status 0\n$" "INSERT INTO t (id, v) VALUES (100, ?)"
    "1234567890123456789012.3456789012345678")
expect("38 digits back" 0 "^v\tlength\\(v\\)\n1234567890123456789012.3456789012345678\t39\n$"
    "SELECT v, length(v) FROM t WHERE id = 100")
expect("39 digits" 0 "^status 0\n$" "INSERT INTO t (id, v) VALUES (101, ?)"
    "1234567890123456789012.34567890123456789")
expect("39 digits back" 0 "^v\n1234567890123456789012.34567890123456789\n$"
    "SELECT v FROM t WHERE id = 101")

# Rows: each column through the getter of its kind, in the row's own types.
expect(rows 0
    "^id\tkind\tv\n1\tinteger\t42\n2\treal\t2.25\n3\ttext\ta\\\\tb\\\\\\\\c\n4\tnull\tnull\n5\tblob\tX'00FF10'\n$"
    "WITH r(id, x) AS (VALUES (1, 42), (2, 2.25), (3, ?), (4, NULL), (5, X'00ff10'))
     SELECT id, typeof(x) AS kind, x AS v FROM r ORDER BY id"
    "a	b\\c")

# WITH and RETURNING answer rows too; what RETURNING wrote is committed.
expect(with 0 "^n\n3\n$" "WITH s(n) AS (SELECT 3) SELECT n FROM s")
expect(returning 0 "^id\tnote\n200\tkept\n$"
    "INSERT INTO t (id, note) VALUES (200, ?) RETURNING id, note" kept)
expect("returning committed" 0 "^note\nkept\n$" "SELECT note FROM t WHERE id = 200")

# Failures: the status and the database's message, exit 1, nothing kept.
expect(syntax 1 "status 1001\nqn sql: error 1: [^\n]*syntax error" "SELEC 1")
expect(duplicate 1 "status 4\nqn sql: error 19: [^\n]*UNIQUE"
    "INSERT INTO t (id, note) VALUES (200, 'again')")
expect("duplicate not kept" 0 "^note\nkept\n$" "SELECT note FROM t WHERE id = 200")
expect("too many values" 1 "status 1025" "SELECT ?" 1 2)
expect("no such table" 1 "status 1001\nqn sql: error 1: no such table: nope" "SELECT * FROM nope")

execute_process(COMMAND "${QN}" sql "${DB}" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 2)
    message(SEND_ERROR "a missing statement is a usage error: exit ${rc}")
endif()
