#!/usr/bin/env bash
# make_test_ca.sh DIR: a throw-away root CA and a server certificate it signed for 127.0.0.1 and localhost.
#   DIR/ca.pem ca.der ca.key   the root (the trust store gets ca.der)
#   DIR/server.pem server.key  the server's chain and key
#   DIR/wrongname.pem/.key     issued by the root to other.example; DIR/selfsigned.pem/.key  no root at all
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -sha256 \
  -subj "/CN=Vantorix Test Root CA $(date +%s%N)" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in ca.pem -outform DER -out ca.der
openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1" 2>/dev/null
cat > server.ext <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:localhost,DNS:127.0.0.1
EXT
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.crt -days 30 -sha256 \
  -extfile server.ext 2>/dev/null
cat server.crt ca.pem > server.pem

# Two certificates that must be refused: one the trusted root issued to another host, one self-signed.
openssl req -newkey rsa:2048 -nodes -keyout wrongname.key -out wrongname.csr -subj "/CN=other.example" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:other.example\n' > wrongname.ext
openssl x509 -req -in wrongname.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out wrongname.crt -days 30 -sha256 \
  -extfile wrongname.ext 2>/dev/null
cat wrongname.crt ca.pem > wrongname.pem
openssl req -x509 -newkey rsa:2048 -nodes -keyout selfsigned.key -out selfsigned.pem -days 30 -sha256 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" 2>/dev/null
