#!/usr/bin/env bash
# Checks every request the Wine tests saved (NAME.pem beside NAME.expect)
# with two independent parsers: OpenSSL (signature, subject in order, both
# attributes, the modulus of the key the plug-in kept) and GnuTLS (a
# stricter DER reader that also checks the signature). Both exit 0 even
# when a signature is bad, so their messages are read.
set -uo pipefail
dir=$1
shopt -s nullglob
requests=("$dir"/*.pem)
if (( ${#requests[@]} == 0 )); then echo "no requests were saved in $dir"; exit 1; fi

failed=0
for pem in "${requests[@]}"; do
  name=$(basename "$pem" .pem)
  expect() { sed -n "s/^$1=//p" "$dir/$name.expect"; }
  problems=()

  verify=$(openssl req -in "$pem" -noout -verify 2>&1)
  grep -q "verify OK" <<<"$verify" || problems+=("openssl: signature: $verify")

  subject=$(openssl req -in "$pem" -noout -subject -nameopt oneline,-esc_msb,utf8 2>&1)
  [[ "$subject" == "subject=$(expect subject)" ]] ||
    problems+=("openssl: subject is '$subject', expected 'subject=$(expect subject)'")

  # Every directory string a BMPString, the e-mail an IA5String.
  types=$(openssl asn1parse -in "$pem" 2>/dev/null | grep -oE '(BMPSTRING|IA5STRING)' | tr '\n' ' ')
  [[ "$types" == "BMPSTRING BMPSTRING BMPSTRING BMPSTRING BMPSTRING BMPSTRING BMPSTRING BMPSTRING BMPSTRING IA5STRING " ]] ||
    problems+=("openssl: string types are: $types")

  text=$(openssl req -in "$pem" -noout -text 2>&1)
  for attribute in unstructuredName challengePassword; do
    got=$(sed -n "s/^ *$attribute *://p" <<<"$text")
    [[ "$got" == "$(expect $attribute)" ]] ||
      problems+=("openssl: $attribute is '$got', expected '$(expect $attribute)'")
  done

  modulus=$(expect modulus | tr -d ' ')
  if [[ -n "$modulus" ]]; then
    got=$(openssl req -in "$pem" -noout -modulus 2>&1 | sed -n 's/^Modulus=//p')
    [[ "$got" == "$modulus" ]] || problems+=("openssl: the request's modulus is not the kept key's")
  fi

  crq=$(certtool --crq-info --infile "$pem" 2>&1)
  grep -q "Self signature: verified" <<<"$crq" || problems+=("certtool: $(grep -i signature <<<"$crq" | head -3)")

  if (( ${#problems[@]} )); then
    failed=$((failed + 1))
    echo "FAIL $name"
    printf '  %s\n' "${problems[@]}"
  else
    echo "ok   $name"
  fi
done
echo "${#requests[@]} requests checked, $failed failed"
(( failed == 0 ))
