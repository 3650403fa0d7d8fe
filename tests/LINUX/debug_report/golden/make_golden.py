#!/usr/bin/env python3
"""Writes the expected debug reports, row by row from the report table.

The discovery maps are written out by hand from the sample device outputs
(device_simulator/samples); repr() gives their display form.
"""
RED, CYAN, GREEN = "\033[1;31m", "\033[1;36m", "\033[0;32m"
RESET, YELLOW = "\033[0;0m", "\033[0;93m"
VERSION = "1.0.0"


def report(summary, errors):
    rows = [
        RED + "Modo debug ativado:\n",
        GREEN + "Versão do script:" + " " * 10 + RESET + VERSION,
        CYAN + "\n..." + "=" * 36 + " Discovery Summary " + "=" * 37 + "...\n" + RESET,
        repr(summary),
        CYAN + "\n..." + "=" * 36 + " Discovery Errors " + "=" * 37 + "...\n" + RESET,
        repr(errors),
        CYAN + "\nPara caso de conferência, use os seguintes comandos SSH:\n" + RESET,
        YELLOW + "show cgnat summary  " + RESET + " # Para listar o summary",
        YELLOW + "show cgnat errors   " + RESET + " # Para listar o errors",
        RED + "\nCaso os comandos não respondam:\n",
        YELLOW + "1 - Confirmar se o equipamento está ativo",
        YELLOW + "2 - Confirmar qual o modelo do equipamento.",
        YELLOW + "3 - Solicitar MIB ou acesso SSH do equipamento e entrar em "
        "contato com o setor de desenvolvimento da Tarn!" + RESET,
    ]
    return "".join(row + "\n" for row in rows)


SAMPLE_SUMMARY = {
    "{#ACTIVE_SESSIONS}": "1234",
    "{#SESSIONS_CREATED}": "98765432",
    "{#SESSIONS_DESTROYED}": "98764198",
    "{#MAXIMUM_TABLE_SIZE}": "4194304",
    "{#TABLE_FULL}": 0,
    "{#PUBLIC_ADDRESS_USED}": "187",
    "{#SUBSCRIBER_ADDRESS_USED}": "15230",
    "{#SUBSCRIBER_ADDRESS_MAX}": "65536",
    "{#TRANSLATED_PACKETS}": "1234567890",
    "{#BYTES}": "987654321098",
    "{#UNKNOWN_SOURCE_ADDR_OR_PORT}": "12",
    "{#CGNAT_SESSION}": "3",
    "{#CGNAT_POOL}": "0",
    "{#THREAD_CONTENTION_ERRORS}": "5",
}

SAMPLE_ERRORS = {}
for name, counters in [
    ("UNTRANSLATABLE_ICMP_MESSAGE", ("12", "3")),
    ("SUBSCRIBER_PORT_BLOCK_LIMIT", ("0", "0")),
    ("NO_FREE_PORT_BLOCKS_ON_SELECTED_PUBLIC_ADDRESS", ("5", "1")),
    ("NO_FREE_PUBLIC_ADDRESSES_IN_NAT_POOL", ("0", "0")),
    ("SUBSCRIBER_TABLE_FULL", ("0", "0")),
    ("MAPPING_TABLE_FULL", ("2", "0")),
    ("DEST_SESSION_TABLE_FULL", ("0", "4")),
    ("SESSION_TABLE_FULL", ("7", "9")),
    ("FAILED_TO_ALLOCATE_SESSION", ("1", "1")),
    ("FAILED_TO_ALLOCATE_DESTINATION_SESSION", ("0", "0")),
    ("FAILED_TO_ALLOCATE_PORT_BLOCK", ("3", "0")),
    ("FAILED_TO_ALLOCATE_PUBLIC_ADDRESS", ("0", "0")),
    ("FAILED_TO_ALLOCATE_SUBSCRIBER_ADDRESS", ("0", "2")),
]:
    SAMPLE_ERRORS["{#" + name + "_IN}"] = counters[0]
    SAMPLE_ERRORS["{#" + name + "_OUT}"] = counters[1]

if __name__ == "__main__":
    import pathlib

    here = pathlib.Path(__file__).parent
    (here / "samples_report.txt").write_bytes(
        report(SAMPLE_SUMMARY, SAMPLE_ERRORS).encode())
    (here / "empty_report.txt").write_bytes(report({}, {}).encode())
    (here / "empty_errors_report.txt").write_bytes(
        report(SAMPLE_SUMMARY, {}).encode())
